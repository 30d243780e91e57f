// Runs the fuzz target over files or folders of inputs, for builds without
// libFuzzer: the saved corpus becomes a regression test.
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *buf, size_t len);

int
main(int argc, char *argv[])
{
	size_t runs = 0;

	for (int i = 1; i < argc; i++) {
		std::filesystem::path arg(argv[i]);
		auto one = [&](const std::filesystem::path &p) {
			std::ifstream f(p, std::ios::binary);
			std::string s((std::istreambuf_iterator<char>(f)),
			    std::istreambuf_iterator<char>());
			LLVMFuzzerTestOneInput((const uint8_t *)s.data(), s.size());
			runs++;
		};
		if (std::filesystem::is_directory(arg)) {
			for (const auto &e : std::filesystem::directory_iterator(arg))
				one(e.path());
		} else {
			one(arg);
		}
	}
	printf("replayed %zu inputs\n", runs);
	return runs == 0;
}
