// quillsend_win under Wine, end to end: its three messages, its result
// codes, every byte received, and a stream identical to quillsend_nix's.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

using namespace quilltest;

namespace {

const Program win = program_from_env("QUILL_WIN", "QUILL_WIN_RUNNER");
const Program winfaults = program_from_env("QUILL_WIN_FAULTS", "QUILL_WIN_RUNNER");
const Program nix = program_from_env("QUILL_NIX", "QUILL_NIX_RUNNER", QUILL_BUILT_NIX);

// The C runtime ends lines with CRLF; "Sending %s" ends none.
std::string
transcript(const std::string &name)
{
	return "Preparing to send " + name + "\r\nWaiting for connection...\r\n"
	    "Sending " + name;
}

// Runs a shell command; fails the test when it does not succeed.
void
shell(const std::string &cmd)
{
	ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

class Win : public E2E {
protected:
	void SetUp() override
	{
		if (!win.found())
			GTEST_SKIP() << "QUILL_WIN is not set";
		E2E::SetUp();
		setenv("WINEDEBUG", "-all", 1);
		// The build made the prefix, outside the tests' time.
		std::string prefix = env_or("WINEPREFIX", "");
		ASSERT_TRUE(std::filesystem::exists(prefix + "/system.reg"))
		    << "no Wine prefix in WINEPREFIX=" << prefix;
		// Sockets belong to the wineserver: it must live in this
		// test's namespace, so end the one an earlier test started.
		shell("wineserver -k 2>/dev/null; wineserver -w");
	}

	Outcome run(const Program &p, const std::vector<std::string> &args,
	    std::string *got, const Peer &peer = Peer(), const std::string &fault = "")
	{
		std::vector<std::string> env;
		if (!fault.empty())
			env.push_back("QUILL_FAULTS=" + fault);
		for (int attempt = 0;; attempt++) {
			Launch l(p, args, dir_, env);
			bool listened = l.listening(30);
			if (listened)
				*got = receive(peer);
			Outcome o = l.wait(60);
			// The program returns only 0 or -1, and says something first:
			// a silent 1 is Wine failing to start it (seen about once in
			// a thousand starts). Try once more.
			if (!p.wine || listened || o.code != 1 || !o.out.empty() ||
			    attempt > 0)
				return o;
			printf("wine failed to start the program (%s); again\n",
			    o.err.c_str());
			shell("wineserver -k 2>/dev/null; wineserver -w");
		}
	}
};

// quillrecv.exe takes a file from either sender into a folder it makes.
TEST_F(Win, ReceiverSavesFromEitherSender)
{
	const Program recv = program_from_env("QUILL_RECV", "QUILL_WIN_RUNNER");
	if (!recv.found())
		GTEST_SKIP() << "QUILL_RECV is not set";
	const std::string data = pattern(300000, 8);
	write_file(path("photo.jpg"), data);
	for (const Program *sender : { &win, &nix }) {
		SCOPED_TRACE(sender->path);
		Launch s(*sender, { "photo.jpg" }, dir_);
		ASSERT_TRUE(s.listening(30));
		Launch r(recv, { "--output", "incoming" }, dir_);
		Outcome o = r.wait(60);
		EXPECT_EQ(s.wait(60).code, 0);
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(o.out, "received photo.jpg: 300000 bytes, saved as "
		    "incoming\\photo.jpg\r\n");
		EXPECT_TRUE(read_file(path("incoming/photo.jpg")) == data);
		std::filesystem::remove_all(path("incoming"));
	}
}

TEST_F(Win, SendsTheSameStreamAsTheLinuxSender)
{
	struct {
		std::string name;
		size_t size;
		std::vector<std::string> extra;
	} cases[] = {
		{ "data.bin", 4096 + 100, {} },
		{ "empty.bin", 0, {} },
		{ "k-1.bin", 2 * 4096 - 1, {} },
		{ "k.bin", 2 * 4096, {} },
		{ "k+1.bin", 2 * 4096 + 1, {} },
		{ "dir/sub/file.bin", 5000, {} },
		{ "big.bin", (1 << 20) + 3, {} },
		{ "extra.bin", 10, { "ignored" } },
		{ "-dash.bin", 11, {} },	// a file, not an option
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::string data = pattern(c.size, (uint32_t)c.size);
		write_file(path(c.name), data);
		std::vector<std::string> args = { c.name };
		args.insert(args.end(), c.extra.begin(), c.extra.end());
		std::string got;
		Outcome o = run(win, args, &got);
		EXPECT_EQ(o.out, transcript(c.name));
		EXPECT_EQ(o.err, "");
		EXPECT_EQ(o.code, 0);
		EXPECT_TRUE(got == stream_of(c.name, data)) << "stream differs";
		if (nix.found()) {
			std::string from_nix;
			EXPECT_EQ(run(nix, args, &from_nix).code, 0);
			EXPECT_TRUE(from_nix == got) << "the two senders differ";
		}
	}
}

TEST_F(Win, NoArgumentDoesNothing)
{
	Launch l(win, {}, dir_);
	Outcome o = l.wait(60);
	EXPECT_EQ(o.out, "");
	EXPECT_EQ(o.err, "");
	EXPECT_EQ(o.code, 0);
}

TEST_F(Win, PortInUse)
{
	int held = hold_port21();
	Launch l(win, { "x" }, dir_);
	Outcome o = l.wait(60);
	EXPECT_EQ(o.out, "Preparing to send x\r\nbind error!\r\n");
	EXPECT_EQ(o.code, 255);
	close(held);
}

// Files that cannot be sent: the receiver gets the name and no size.
TEST_F(Win, RefusesWhatItCannotSend)
{
	make_unsendable();
	write_file(path("match.bin"), "a pattern would match me");
	struct {
		std::string name, message;
	} cases[] = {
		{ "missing.bin", "Cannot open missing.bin!" },
		// Not expanded: no file has this name.
		{ "*.bin", "Cannot open *.bin!" },
		{ "folder", "Cannot open folder!" },
		{ "NUL", "NUL is not a file!" },
		{ "sparse2147483648", "sparse2147483648 is too large: 2147483648 "
		  "bytes, the limit is 2147483647!" },
		{ "sparse4294967296", "sparse4294967296 is too large: 4294967296 "
		  "bytes, the limit is 2147483647!" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::string got;
		Outcome o = run(win, { c.name }, &got);
		EXPECT_EQ(o.out, transcript(c.name) + "\r\n" + c.message + "\r\n");
		EXPECT_EQ(o.code, 255);
		std::string header = stream_of(c.name, "");
		EXPECT_TRUE(got == header.substr(0, header.size() - 4));
	}
}

TEST_F(Win, InjectedFailures)
{
	if (!winfaults.found())
		GTEST_SKIP() << "QUILL_WIN_FAULTS is not set";
	std::string data = pattern(2 * 4096 + 100);
	write_file(path("f"), data);
	std::string stream = stream_of("f", data);
	size_t header = stream.size() - data.size();
	struct {
		std::string fault, out;
		int code;
		size_t received;	// bytes of the stream the receiver gets
	} cases[] = {
		{ "wsastartup=1", "Preparing to send f\r\nWinsock not initialised!\r\n",
		  255, 0 },
		{ "socket=1", "Preparing to send f\r\nInvalid socket!\r\n", 255, 0 },
		{ "listen=1", "Preparing to send f\r\nWaiting for connection...\r\n"
		  "listen() error!\r\n", 255, 0 },
		// A failed accept is retried without a word.
		{ "accept=3", transcript("f"), 0, stream.size() },
		// Short sends: the rest of a chunk goes next.
		{ "sendmax=1000", transcript("f"), 0, stream.size() },
		{ "sendmax=1", transcript("f"), 0, stream.size() },
		// A failed send is not counted as sent.
		{ "sendfail=5", transcript("f") + "\r\nsend error!\r\n", 255, header + 4096 },
		{ "sendfail=1", transcript("f") + "\r\nsend error!\r\n", 255, 0 },
		{ "sendfail=3", transcript("f") + "\r\nsend error!\r\n", 255, header - 4 },
		{ "readfail=4096", transcript("f") + "\r\nread error!\r\n", 255,
		  header + 4096 },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.fault);
		std::string got;
		Outcome o = run(winfaults, { "f" }, &got, Peer(), c.fault);
		EXPECT_EQ(o.out, c.out);
		EXPECT_EQ(o.err, "");
		EXPECT_EQ(o.code, c.code);
		EXPECT_TRUE(got == stream.substr(0, c.received))
		    << "received " << got.size() << " bytes";
	}
}

TEST_F(Win, SlowReceiverWithSmallWindowGetsEverything)
{
	std::string data = pattern(300000, 7);
	write_file(path("slow"), data);
	Peer peer;
	peer.rcvbuf = 2048;
	peer.piece = 999;
	peer.pause_us = 100;
	std::string got;
	Outcome o = run(win, { "slow" }, &got, peer);
	EXPECT_EQ(o.code, 0);
	EXPECT_EQ(o.out, transcript("slow"));
	EXPECT_TRUE(got == stream_of("slow", data));
}

TEST_F(Win, ReceiverLeavingEarlyIsNoSuccess)
{
	write_file(path("long"), pattern(32 << 20));
	Peer peer;
	peer.stop_after = 100000;
	std::string got;
	Outcome o = run(win, { "long" }, &got, peer);
	EXPECT_EQ(o.out, transcript("long") + "\r\nsend error!\r\n");
	EXPECT_EQ(o.code, 255);
}

// The largest size the field holds is announced, not refused.
TEST_F(Win, LargestFileIsAnnounced)
{
	make_unsendable();
	const std::string name = "sparse2147483647";
	const std::string header = header_of(name, 2147483647);
	Peer peer;
	peer.stop_after = header.size();
	std::string got;
	Outcome o = run(win, { name }, &got, peer);
	EXPECT_TRUE(got == header) << "header differs";
	EXPECT_EQ(o.out, transcript(name) + "\r\nsend error!\r\n");
	EXPECT_EQ(o.code, 255);
}

TEST_F(Win, FileChangingWhileSentIsNoSuccess)
{
	const long size = 64 << 20;
	const long header = (long)stream_of("changes", "").size();
	for (long now : { size / 2, size + 1000 }) {
		SCOPED_TRACE(now);
		write_file(path("changes"), pattern((size_t)size, 3));
		Peer peer;
		peer.hold_at = header;
		peer.at_hold = [&] {
			ASSERT_EQ(truncate(path("changes").c_str(), now), 0);
		};
		std::string got;
		Outcome o = run(win, { "changes" }, &got, peer);
		EXPECT_EQ(o.out, transcript("changes") + "\r\nchanges changed while "
		    "sending: announced " + std::to_string(size) + " bytes, sent " +
		    std::to_string(now) + "!\r\n");
		EXPECT_EQ(o.code, 255);
		EXPECT_EQ(got.size(), (size_t)(header + now));
	}
}

TEST_F(Win, Soak)
{
	soak(30, [&](auto &args, auto *got, auto &peer) { return run(win, args, got, peer); },
	    [](size_t) { return transcript("soak.bin"); });
}

// quillsend.cmd beside the sender, as in the .zip, and the files elsewhere:
// each file in turn, its outcome in words, a key for pause on stdin, 1 when
// any was not sent.
TEST_F(Win, BatchFileSendsEachFileInTurn)
{
	std::string built = win.path.substr(0, win.path.rfind('/') + 1);
	for (std::string f : { "quillsend.cmd", "quillsend_win.exe" })
		write_file(path("x64/" + f), read_file(built + f));
	// Wine's cmd runs it; a newline on stdin is the key pause waits for.
	Program cmd = win;
	cmd.runner.insert(cmd.runner.begin(), { "sh", "-c", "echo | exec \"$@\"", "sh" });
	cmd.runner.insert(cmd.runner.end(), { "cmd", "/c" });
	cmd.path = "x64\\quillsend.cmd";
	const std::string odd = "a b&(c)^!.txt", pause = "Press any key to continue... ";
	write_file(path(odd), pattern(5000));
	write_file(path("two.bin"), pattern(4096, 2));
	auto sent = [](const std::string &f) {
		return transcript(f) + "\r\nSent " + f + ".\r\n";
	};
	struct {
		std::vector<std::string> files;
		std::string out;
		int code;
	} cases[] = {
		{ { odd, "missing.bin", "two.bin" }, sent(odd) + transcript("missing.bin") +
		  "\r\nCannot open missing.bin!\r\n"
		  "\r\nmissing.bin was not sent (exit code -1).\r\n" +
		  sent("two.bin") + pause, 1 },
		{ { "two.bin" }, sent("two.bin") + pause, 0 },
		{ {}, "Usage: quillsend.cmd FILE...\r\n"
		  "Sends each file to the device, one after the other. Drop files on\r\n"
		  "quillsend.cmd in Explorer, or choose it in the \"Send to\" menu.\r\n" +
		  pause, 0 },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.out);
		Launch l(cmd, c.files, dir_);
		std::string last, now;
		for (const auto &f : c.files) {
			// Each file's own listener, not the last one closing.
			for (int i = 0; (now = port21_listener()).empty() || now == last; i++) {
				ASSERT_LT(i, 6000) << "no listener for " << f;
				usleep(5000);
			}
			last = now;
			std::string want = stream_of(f, read_file(path(f)));
			if (!std::filesystem::exists(path(f)))
				want.resize(want.size() - 4);	// the name, no size
			EXPECT_TRUE(receive() == want) << f;
		}
		Outcome o = l.wait(60);
		EXPECT_EQ(o.out, c.out);
		EXPECT_EQ(o.err, "");
		EXPECT_EQ(o.code, c.code);
	}
}

}  // namespace
