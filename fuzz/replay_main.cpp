// Replays a fuzz target's corpus without libFuzzer: every file under the given
// folders (or the given files) is passed once to the harness, in name order.
// An empty or missing corpus is a failure, so a lost corpus cannot pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

void collect(const fs::path &path, std::vector<fs::path> &out)
{
	std::error_code ec;
	if (fs::is_directory(path, ec)) {
		for (const fs::directory_entry &entry : fs::recursive_directory_iterator(path, ec))
			if (entry.is_regular_file())
				out.push_back(entry.path());
	} else if (fs::is_regular_file(path, ec)) {
		out.push_back(path);
	}
}

} // namespace

int main(int argc, char **argv)
{
	std::vector<fs::path> inputs;
	for (int i = 1; i < argc; i++)
		collect(argv[i], inputs);
	std::sort(inputs.begin(), inputs.end());
	if (inputs.empty()) {
		std::fprintf(stderr, "no corpus inputs found\n");
		return 1;
	}
	for (const fs::path &input : inputs) {
		std::ifstream in(input, std::ios::binary);
		const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
		// A copy of exactly the input's size, so reads past its end are caught by the sanitizers.
		std::vector<uint8_t> data(bytes.begin(), bytes.end());
		static const uint8_t no_byte = 0;
		LLVMFuzzerTestOneInput(data.empty() ? &no_byte : data.data(), data.size());
	}
	std::printf("replayed %zu inputs\n", inputs.size());
	return 0;
}
