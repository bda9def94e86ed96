// kx_ftm: the factory test service behind the "ftm" bus object.
#include <stdlib.h>

#include <vorn.h>

#include "dispatch.h"
#include "ftm_log.h"
#include "ftm_state.h"

namespace {

int ftm_msg_cb(const char *msg, char *resp, int resp_size)
{
	return ftm::ftm_server(msg, resp, resp_size);
}

}  // namespace

int main(int argc, char **argv)
{
	using namespace ftm;
	state_init();
	state().core_cnt_bench = ftm_core_bench_from_args(argc, argv);
	err("CORE_CNT_BENCH: %d\n", (int)state().core_cnt_bench);

	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr) {
		err("Error: failed to initialize vorn! \n");
		exit(-1);
	}
	state().bus = ctx;
	if (vorn_set_obj_name(ctx, "ftm") < 0) {
		out("Can not registe obj name: ftm. ");
		out_flush();
		exit(-1);
	}
	vorn_set_msg_cb(ctx, ftm_msg_cb);
	out("ftm: running... ");
	out_flush();
	vorn_run_loop(ctx);
	vorn_finalize(ctx);
	err("ftm: exit. \n");
	return 0;
}
