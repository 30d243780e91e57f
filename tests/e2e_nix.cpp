// quillsend_nix end to end: the exact console output, the exit status and
// every byte that reaches a receiver.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"

using namespace quilltest;

namespace {

const Program nix = program_from_env("QUILL_NIX", "QUILL_NIX_RUNNER", QUILL_BUILT_NIX);
const char *faults = fault_library();

const std::string head = "socket 3\nsetsockopt ok\nbind ok 0\nlisten\n";
const std::string waiting = "waiting for DS connection (b4 accept)\naft accept\n";

// What a run that sends size bytes in full sends of at most `piece` prints.
std::string
transcript(const std::string &name, long size, long piece = 4096)
{
	std::string s = "Preparing to send " + name + "\n" + head + waiting +
	    "Sending " + name + " totbytes=" + std::to_string(size) + "\n";
	for (long done = 0; done < size; done += 4096)
		for (long c = 0, chunk = std::min(4096L, size - done); c < chunk;) {
			c += std::min(piece, chunk - c);
			s += std::to_string(size - done - c) + "\n";
		}
	return s + "\nComplete.\n";
}

// The opening lines of a run that fails after accepting the receiver.
std::string
until_sending(const std::string &name)
{
	return "Preparing to send " + name + "\n" + head + waiting + "Sending " +
	    name + "\n";
}

// The opening lines of a run that has found the file's size.
std::string
until_totbytes(const std::string &name, long size)
{
	std::string s = until_sending(name);
	return s.insert(s.size() - 1, " totbytes=" + std::to_string(size));
}

class Nix : public E2E {
protected:
	void SetUp() override
	{
		if (!nix.found())
			GTEST_SKIP() << "QUILL_NIX is not set";
		E2E::SetUp();
	}

	// A copy of the sender that another user can run, wherever the build is.
	Program reachable_copy()
	{
		Program p = nix;
		p.path = path("quillsend_nix");
		write_file(p.path, read_file(nix.path));
		chmod(p.path.c_str(), 0755);
		return p;
	}

	static constexpr uid_t nobody = 65534;

	// Runs the sender with args, lets a receiver take the stream, and
	// returns how the sender ended; *got is what the receiver read.
	Outcome run(const std::vector<std::string> &args, std::string *got,
	    const Peer &peer = Peer(), const std::string &fault = "")
	{
		Launch l(nix, args, dir_, with_faults(faults, fault));
		if (l.listening())
			*got = receive(peer);
		return l.wait();
	}
};

TEST_F(Nix, SendsEveryByteAndNarrates)
{
	struct {
		std::string name;
		long size;
		std::vector<std::string> extra;
	} cases[] = {
		{ "data.bin", 4096 + 100, {} },
		{ "empty.bin", 0, {} },
		{ "one.bin", 1, {} },
		{ "k-1.bin", 3 * 4096 - 1, {} },
		{ "k.bin", 3 * 4096, {} },
		{ "k+1.bin", 3 * 4096 + 1, {} },
		{ "two+100.bin", 2 * 4096 + 100, {} },
		{ "dir/sub/file.bin", 5000, {} },
		{ "big.bin", (1 << 20) + 3, {} },
		{ "extra.bin", 10, { "ignored", "also ignored" } },
		{ "name with blanks & ümlaut.bin", 77, {} },
		{ "-dash.bin", 11, {} },	// a file, not an option
		{ "*.bin", 12, {} },		// the name as given, not a pattern
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::string data = pattern((size_t)c.size, (uint32_t)c.size);
		write_file(path(c.name), data);
		std::vector<std::string> args = { c.name };
		args.insert(args.end(), c.extra.begin(), c.extra.end());
		std::string got;
		Outcome o = run(args, &got);
		EXPECT_EQ(o.out, transcript(c.name, c.size));
		EXPECT_EQ(o.err, "");
		EXPECT_FALSE(o.signaled);
		EXPECT_EQ(o.code, 0);
		EXPECT_TRUE(got == stream_of(c.name, data)) << "stream differs";
	}
}

TEST_F(Nix, WorkedExampleOnTheWire)
{
	write_file(path("abc"), "12345");
	std::string got;
	Outcome o = run({ "abc" }, &got);
	EXPECT_EQ(o.code, 0);
	EXPECT_EQ(got, std::string("\x04\0\0\0abc\0\x05\0\0\0" "12345", 17));
}

TEST_F(Nix, AbsolutePathTravelsWhole)
{
	write_file(path("abs.bin"), "xyz");
	std::string got;
	Outcome o = run({ path("abs.bin") }, &got);
	EXPECT_EQ(o.code, 0);
	EXPECT_TRUE(got == stream_of(path("abs.bin"), "xyz"));
}

TEST_F(Nix, NoArgumentDoesNothing)
{
	Launch l(nix, {}, dir_);
	EXPECT_FALSE(l.listening(5));
	Outcome o = l.wait();
	EXPECT_EQ(o.out, "");
	EXPECT_EQ(o.err, "");
	EXPECT_EQ(o.code, 0);
}

TEST_F(Nix, PortInUseEndsWithBindDiagnostic)
{
	int held = hold_port21();
	Launch l(nix, { "x" }, dir_);
	Outcome o = l.wait();
	EXPECT_EQ(o.out, "Preparing to send x\nsocket 3\nsetsockopt ok\n"
	    "failed to bind status=-1 errno=98\n"
	    "error codes: 13 98 9 22 88 13 99 14 22 40 36 2 12 20 30\n");
	EXPECT_EQ(o.err, "");
	EXPECT_EQ(o.code, 98);
	close(held);
}

TEST_F(Nix, UnprivilegedUserCannotBind)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run the sender as another user";
	Launch l(reachable_copy(), { "x" }, dir_, {}, nobody);
	Outcome o = l.wait();
	EXPECT_EQ(o.out, "Preparing to send x\nsocket 3\nsetsockopt ok\n"
	    "failed to bind status=-1 errno=13\n"
	    "error codes: 13 98 9 22 88 13 99 14 22 40 36 2 12 20 30\n");
	EXPECT_EQ(o.code, 13);
}

TEST_F(Nix, UnreadableFileIsRefused)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run the sender as another user";
	// Only in this test's namespace: any user may bind port 21.
	write_file("/proc/sys/net/ipv4/ip_unprivileged_port_start", "0");
	write_file(path("secret"), "x");
	chmod(path("secret").c_str(), 0600);
	Launch l(reachable_copy(), { "secret" }, dir_, {}, nobody);
	std::string got;
	if (l.listening())
		got = receive();
	Outcome o = l.wait();
	EXPECT_EQ(o.out, until_sending("secret"));
	EXPECT_EQ(o.err, "secret: Permission denied\n");
	EXPECT_EQ(o.code, 1);
	EXPECT_TRUE(got == stream_of("secret", "").substr(0, 4 + 7));
}

TEST_F(Nix, RunRightAfterAnotherBinds)
{
	write_file(path("a"), pattern(10000));
	for (int i = 0; i < 2; i++) {
		std::string got;
		Outcome o = run({ "a" }, &got);
		EXPECT_EQ(o.code, 0) << "run " << i << ": " << o.out;
		EXPECT_TRUE(got == stream_of("a", pattern(10000)));
	}
}

// Files that cannot be sent: the receiver gets the name and no size, the
// console says why, the status is 1.
TEST_F(Nix, RefusesWhatItCannotSend)
{
	ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
	make_unsendable();
	struct {
		std::string name, err;
	} cases[] = {
		{ "missing.bin", "missing.bin: No such file or directory\n" },
		{ "folder", "folder: not a regular file\n" },
		{ "fifo", "fifo: not a regular file\n" },
		{ "/dev/zero", "/dev/zero: not a regular file\n" },
		{ "sparse2147483648", "sparse2147483648: file too large to send "
		    "(2147483648 bytes, the limit is 2147483647)\n" },
		{ "sparse4294967296", "sparse4294967296: file too large to send "
		    "(4294967296 bytes, the limit is 2147483647)\n" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::string got;
		Outcome o = run({ c.name }, &got);
		EXPECT_EQ(o.out, until_sending(c.name));
		EXPECT_EQ(o.err, c.err);
		EXPECT_EQ(o.code, 1);
		std::string header = stream_of(c.name, "");
		EXPECT_TRUE(got == header.substr(0, header.size() - 4));
	}
}

// Failures that only injection can cause.
TEST_F(Nix, StartupFailures)
{
	if (faults == nullptr)
		GTEST_SKIP() << "QUILL_FAULTS_LIB is not set";
	struct {
		std::string fault, out, err;
	} cases[] = {
		{ "socket=24", "Preparing to send x\n",
		  "socket (client): Too many open files\n" },
		{ "setsockopt=22", "Preparing to send x\nsocket 3\n",
		  "setsockopt(fd,SOL_SOCKET, SO_REUSEADDR,1): Invalid argument\n" },
		{ "listen=98", "Preparing to send x\nsocket 3\nsetsockopt ok\n"
		  "bind ok 0\n", "listen: Address already in use\n" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.fault);
		Launch l(nix, { "x" }, dir_, with_faults(faults, c.fault));
		Outcome o = l.wait();
		EXPECT_EQ(o.out, c.out);
		EXPECT_EQ(o.err, c.err);
		EXPECT_EQ(o.code, 1);
	}
}

TEST_F(Nix, TransferFaults)
{
	if (faults == nullptr)
		GTEST_SKIP() << "QUILL_FAULTS_LIB is not set";
	std::string data = pattern(2 * 4096 + 100);
	write_file(path("f"), data);
	std::string retries;
	for (int i = 0; i < 3; i++)
		retries += waiting + "as accept error -1\n";
	std::string full = transcript("f", (long)data.size());
	std::string stream = stream_of("f", data);
	size_t header = stream.size() - data.size();
	std::string upto_first = until_totbytes("f", (long)data.size());
	struct {
		std::string fault, out, err;
		int code;
		size_t received;	// bytes of the stream the receiver gets
	} cases[] = {
		// Retried accepts each print their pair of lines, then the run goes on.
		{ "accept=3", full.substr(0, full.find(waiting)) + retries +
		  full.substr(full.find(waiting)), "", 0, stream.size() },
		// Short sends: the rest of a chunk goes next, from its first unsent byte.
		{ "sendmax=1000", transcript("f", (long)data.size(), 1000), "", 0,
		  stream.size() },
		{ "sendmax=1", transcript("f", (long)data.size(), 1), "", 0, stream.size() },
		// A failed send is not counted; the run ends without "Complete.".
		{ "sendfail=5", upto_first + "4196\n",
		  "send: Connection reset by peer\n", 1, header + 4096 },
		{ "sendfail=1", until_sending("f"), "send: Connection reset by peer\n",
		  1, 0 },
		// A receiver gone: EPIPE and SIGPIPE, which must not kill the run.
		{ "sendpipe=5", upto_first + "4196\n", "send: Broken pipe\n", 1,
		  header + 4096 },
		{ "sendfail=2", until_sending("f"), "send: Connection reset by peer\n",
		  1, 4 },
		{ "sendfail=3", upto_first, "send: Connection reset by peer\n", 1,
		  header - 4 },
		{ "readfail=4096", upto_first + "4196\n", "f: Is a directory\n", 1,
		  header + 4096 },
		// The size cannot be found: nothing is sent after the name.
		{ "seekfail=29", until_sending("f"), "f: Illegal seek\n", 1, header - 4 },
		{ "tellfail=75", until_sending("f"),
		  "f: Value too large for defined data type\n", 1, header - 4 },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.fault);
		std::string got;
		Outcome o = run({ "f" }, &got, Peer(), c.fault);
		EXPECT_EQ(o.out, c.out);
		EXPECT_EQ(o.err, c.err);
		EXPECT_EQ(o.code, c.code);
		EXPECT_TRUE(got == stream.substr(0, c.received))
		    << "received " << got.size() << " bytes";
	}
}

TEST_F(Nix, SlowReceiverWithSmallWindowGetsEverything)
{
	std::string data = pattern(300000, 7);
	write_file(path("slow"), data);
	Peer peer;
	peer.rcvbuf = 2048;
	peer.piece = 999;
	peer.pause_us = 100;
	std::string got;
	Outcome o = run({ "slow" }, &got, peer);
	EXPECT_EQ(o.code, 0);
	EXPECT_EQ(o.out, transcript("slow", (long)data.size()));
	EXPECT_TRUE(got == stream_of("slow", data));
}

// A receiver that goes away makes a send fail: the run says so and what
// it narrated until then still reaches the console.
TEST_F(Nix, ReceiverLeavingEarlyIsNoSuccess)
{
	const long size = 32 << 20;
	write_file(path("long"), pattern((size_t)size));
	for (size_t stop : { (size_t)0, (size_t)100000 }) {
		SCOPED_TRACE(stop);
		Peer peer;
		peer.stop_after = stop;
		std::string got;
		Outcome o = run({ "long" }, &got, peer);
		EXPECT_EQ(got.size(), stop);
		EXPECT_FALSE(o.signaled) << "killed by signal " << o.code;
		EXPECT_EQ(o.code, 1);
		EXPECT_TRUE(o.err == "send: Broken pipe\n" ||
		    o.err == "send: Connection reset by peer\n") << o.err;
		// The narration up to the failed send, and never "Complete.".
		std::string start = until_sending("long");
		EXPECT_EQ(o.out.substr(0, start.size() - 1), start.substr(0, start.size() - 1));
		EXPECT_EQ(o.out.find("Complete."), std::string::npos);
		if (stop > 0) {
			EXPECT_NE(o.out.find(" totbytes=" + std::to_string(size) + "\n"
			    + std::to_string(size - 4096) + "\n"), std::string::npos);
		}
	}
}

// The largest size the field holds is announced, not refused; the receiver
// checks the header and leaves.
TEST_F(Nix, LargestFileIsAnnounced)
{
	make_unsendable();
	const std::string name = "sparse2147483647";
	const std::string header = header_of(name, 2147483647);
	Peer peer;
	peer.stop_after = header.size();
	std::string got;
	Outcome o = run({ name }, &got, peer);
	EXPECT_TRUE(got == header) << "header differs";
	std::string start = until_totbytes(name, 2147483647);
	EXPECT_EQ(o.out.substr(0, start.size()), start);
	EXPECT_EQ(o.code, 1);
}

// The file changes after its size went out: the data goes out as read,
// then the run fails and says so.
TEST_F(Nix, FileChangingWhileSentIsNoSuccess)
{
	const long size = 64 << 20;
	const long header = (long)stream_of("changes", "").size();
	struct {
		std::string what;
		long now;
	} cases[] = { { "shrinks", size / 2 }, { "grows", size + 1000 } };
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		write_file(path("changes"), pattern((size_t)size, 3));
		Peer peer;
		// The sender can be only a few MiB ahead of the receiver here.
		peer.hold_at = header;
		peer.at_hold = [&] {
			ASSERT_EQ(truncate(path("changes").c_str(), c.now), 0);
		};
		std::string got;
		Outcome o = run({ "changes" }, &got, peer);
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "changes: file changed while sending: announced " +
		    std::to_string(size) + " bytes, sent " + std::to_string(c.now) + "\n");
		EXPECT_EQ(o.out.find("Complete."), std::string::npos);
		EXPECT_EQ(got.size(), (size_t)(header + c.now));
	}
}

TEST_F(Nix, SecondReceiverIsNeverServed)
{
	std::string data = pattern(8 << 20);
	write_file(path("one"), data);
	int second = -1;
	Peer peer;
	peer.hold_at = 100;
	peer.at_hold = [&] {
		second = socket(AF_INET, SOCK_STREAM, 0);
		struct sockaddr_in sa = {};
		sa.sin_family = AF_INET;
		sa.sin_port = htons(21);
		sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		connect(second, (struct sockaddr *)&sa, sizeof(sa));
	};
	std::string got;
	Outcome o = run({ "one" }, &got, peer);
	EXPECT_EQ(o.code, 0);
	EXPECT_TRUE(got == stream_of("one", data));
	char c;
	EXPECT_LE(read(second, &c, 1), 0) << "the second receiver got data";
	close(second);
}

TEST_F(Nix, Soak)
{
	soak(60, [&](auto &args, auto *got, auto &peer) { return run(args, got, peer); },
	    [](size_t size) { return transcript("soak.bin", (long)size); });
}

}  // namespace
