// quillrecv against a scripted sender: what it saves, what it refuses, and
// that a broken stream leaves nothing behind.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace quilltest;

namespace {

const Program recv = program_from_env("QUILL_RECV", "QUILL_RECV_RUNNER", QUILL_BUILT_RECV);

class Recv : public E2E {
protected:
	void SetUp() override
	{
		if (!recv.found())
			GTEST_SKIP() << "QUILL_RECV is not set";
		E2E::SetUp();
		out_ = path("out");
		mkdir(out_.c_str(), 0755);
	}

	// Serves stream to quillrecv started with args, then closes.
	Outcome run(const std::string &stream, std::vector<std::string> args = {})
	{
		int l = hold_port21();
		args.insert(args.begin(), { "--output", out_ });
		Launch r(recv, args, dir_);
		int c = accept(l, nullptr, nullptr);
		for (size_t at = 0; at < stream.size();) {
			ssize_t n = write(c, stream.data() + at, stream.size() - at);
			if (n <= 0)
				break;	// the receiver gave up
			at += (size_t)n;
		}
		close(c);
		close(l);
		return r.wait();
	}

	// The files in the output folder, temporary ones included.
	std::set<std::string> saved() const
	{
		std::set<std::string> names;
		for (const auto &e : std::filesystem::directory_iterator(out_))
			names.insert(e.path().filename());
		return names;
	}

	std::string out_;
};

TEST_F(Recv, SavesUnderTheBaseName)
{
	struct {
		std::string name, base;
		size_t size;
	} cases[] = {
		{ "data.bin", "data.bin", 4196 },
		{ "empty", "empty", 0 },
		{ "dir/sub/file.txt", "file.txt", 5000 },
		{ "C:\\files\\win.txt", "win.txt", 10 },
		{ "/abs/big", "big", 3 << 20 },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::string data = pattern(c.size, 9);
		Outcome o = run(stream_of(c.name, data));
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(o.out, "received " + c.name + ": " + std::to_string(c.size) +
		    " bytes, saved as " + out_ + "/" + c.base + "\n");
		EXPECT_EQ(saved(), std::set<std::string>{ c.base });
		EXPECT_TRUE(read_file(out_ + "/" + c.base) == data);
		std::filesystem::remove(out_ + "/" + c.base);
	}
}

TEST_F(Recv, BadStreamsLeaveNothing)
{
	const std::string z(1, '\0');
	struct {
		std::string what, stream, err;
	} cases[] = {
		{ "name length 0", le32(0), "bad stream: name length out of range" },
		{ "name length 5000", le32(5000), "bad stream: name length out of range" },
		{ "no final zero", le32(2) + "ab" + le32(0),
		  "bad stream: name without its final zero" },
		{ "zero inside", le32(4) + "a" + z + "b" + z + le32(0),
		  "bad stream: name with a zero inside" },
		{ "empty base", le32(5) + "dir/" + z + le32(1) + "x",
		  "bad stream: name \"dir/\" names no file" },
		{ "dot", le32(2) + "." + z + le32(1) + "x",
		  "bad stream: name \".\" names no file" },
		{ "dot dot", le32(6) + "a/../" + z + le32(0), "bad stream: name \"a/../\" names no file" },
		{ "dot dot base", le32(3) + ".." + z + le32(0),
		  "bad stream: name \"..\" names no file" },
		{ "negative size", le32(2) + "n" + z + le32(0xfffffffe),
		  "bad stream: negative file size" },
		{ "ends in header", le32(2) + "n", "bad stream: stream ended inside the header" },
		{ "short data", le32(2) + "s" + z + le32(5) + "1234",
		  "bad stream: stream ended before all data arrived (4 of 5 bytes)" },
		{ "extra data", le32(2) + "e" + z + le32(5) + "123456",
		  "bad stream: more data than announced" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		Outcome o = run(c.stream);
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "quillrecv: " + c.err + "\n");
		EXPECT_EQ(o.out, "");
		EXPECT_TRUE(saved().empty()) << *saved().begin();
	}
}

TEST_F(Recv, ReplacesOnlyWhenForced)
{
	write_file(out_ + "/f", "old");
	Outcome o = run(stream_of("f", "new"));
	EXPECT_EQ(o.code, 1);
	EXPECT_EQ(o.err, "quillrecv: " + out_ + "/f exists (--force replaces it)\n");
	EXPECT_EQ(read_file(out_ + "/f"), "old");
	o = run(stream_of("f", "new"), { "--force" });
	EXPECT_EQ(o.code, 0);
	EXPECT_EQ(read_file(out_ + "/f"), "new");
	EXPECT_EQ(saved(), std::set<std::string>{ "f" });
}

TEST_F(Recv, WaitsForTheSenderToListen)
{
	Launch r(recv, { "--output", out_, "--wait", "10" }, dir_);
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	int l = hold_port21();
	int c = accept(l, nullptr, nullptr);
	std::string s = stream_of("late", "data");
	EXPECT_EQ(write(c, s.data(), s.size()), (ssize_t)s.size());
	close(c);
	close(l);
	Outcome o = r.wait();
	EXPECT_EQ(o.code, 0);
	EXPECT_EQ(read_file(out_ + "/late"), "data");
}

TEST_F(Recv, CommandLine)
{
	struct {
		std::vector<std::string> args;
		int code;
		std::string out_starts, err;
	} cases[] = {
		{ { "--wait", "0" }, 1, "",
		  "quillrecv: connect to 127.0.0.1 port 21: Connection refused\n" },
		{ { "--help" }, 0, "usage: quillrecv", "" },
		{ { "--version" }, 0, "quillrecv ", "" },
		{ { "--wait", "soon" }, 2, "", "quillrecv: bad --wait: soon\n" },
		{ { "stray" }, 2, "", "" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.args[0]);
		Launch r(recv, c.args, dir_);
		Outcome o = r.wait();
		EXPECT_EQ(o.code, c.code);
		EXPECT_EQ(o.out.substr(0, c.out_starts.size()), c.out_starts);
		if (c.code != 2 || !c.err.empty()) {
			EXPECT_EQ(o.err, c.err);
		}
	}
}

}  // namespace
