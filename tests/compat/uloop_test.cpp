// The event loop's time-outs, cancel flag and descriptor events.
#include <libubox/uloop.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <unistd.h>

namespace {

std::string g_order;


struct tagged_timeout {
	uloop_timeout t;
	char tag;
};

void record_tag(uloop_timeout *t)
{
	g_order += reinterpret_cast<tagged_timeout *>(t)->tag;
	if (g_order.size() == 3)
		uloop_end();
}

TEST(Uloop, TimeoutsFireInExpiryOrderAndCancelReportsPending)
{
	ASSERT_EQ(uloop_init(), 0);
	g_order.clear();
	tagged_timeout late = {{}, 'c'}, early = {{}, 'a'}, middle = {{}, 'b'}, cancelled = {{}, 'x'};
	for (tagged_timeout *t : {&late, &early, &middle, &cancelled})
		t->t.cb = record_tag;
	EXPECT_EQ(uloop_timeout_set(&late.t, 60), 0);
	EXPECT_EQ(uloop_timeout_set(&early.t, 10), 0);
	EXPECT_EQ(uloop_timeout_set(&middle.t, 30), 0);
	EXPECT_EQ(uloop_timeout_set(&cancelled.t, 20), 0);
	EXPECT_EQ(uloop_timeout_add(&cancelled.t), -1) << "already pending";
	EXPECT_EQ(uloop_timeout_cancel(&cancelled.t), 0);
	EXPECT_EQ(uloop_timeout_cancel(&cancelled.t), -1);
	EXPECT_GE(uloop_timeout_remaining(&late.t), 40);
	uloop_run();
	EXPECT_EQ(g_order, "abc");
	EXPECT_FALSE(late.t.pending);
	uloop_done();
}

int g_reads;

long process_cpu_ms()
{
	timespec ts;
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
	return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void on_readable(uloop_fd *u, unsigned int events)
{
	char c;
	if (events & ULOOP_READ && read(u->fd, &c, 1) == 1)
		g_reads++;
	if (g_reads == 2)
		uloop_end();
}

TEST(Uloop, DescriptorEventsArriveUntilTheLoopIsEnded)
{
	ASSERT_EQ(uloop_init(), 0);
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	uloop_fd fd = {};
	fd.fd = p[0];
	fd.cb = on_readable;
	ASSERT_EQ(uloop_fd_add(&fd, ULOOP_READ), 0);
	EXPECT_TRUE(fd.registered);
	ASSERT_EQ(write(p[1], "xy", 2), 2);
	g_reads = 0;
	uloop_timeout guard = {};
	guard.cb = [](uloop_timeout *) { uloop_end(); };
	uloop_timeout_set(&guard, 2000);
	uloop_run();
	EXPECT_EQ(g_reads, 2);
	EXPECT_TRUE(uloop_cancelled);
	uloop_timeout_cancel(&guard);

	// A loop that checks briefly for more events before sleeping serves a
	// later event and then sleeps: the rest of the wait costs no CPU.
	uloop_set_spin_before_sleep(200);
	ASSERT_EQ(write(p[1], "z", 1), 1);
	long cpu_before = process_cpu_ms();
	EXPECT_EQ(uloop_run_timeout(400), 0);
	EXPECT_EQ(g_reads, 3);
	EXPECT_LT(process_cpu_ms() - cpu_before, 100) << "the loop kept spinning instead of sleeping";
	uloop_set_spin_before_sleep(0);

	EXPECT_EQ(uloop_fd_delete(&fd), 0);
	EXPECT_FALSE(fd.registered);
	EXPECT_EQ(uloop_run_timeout(50), 0) << "a bounded run with nothing to do returns";
	close(p[0]);
	close(p[1]);
	uloop_done();
}

} // namespace
