// quillrecv against a scripted sender: what it saves, what it refuses, and
// that a broken stream leaves nothing behind.
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace quilltest;

namespace {

// True once process pid has a file open in folder dir.
bool
holds_file(pid_t pid, const std::string &dir)
{
	std::error_code ec;
	std::string fds = "/proc/" + std::to_string(pid) + "/fd";
	for (const auto &e : std::filesystem::directory_iterator(fds, ec)) {
		std::string target = std::filesystem::read_symlink(e.path(), ec);
		if (target.rfind(dir + "/", 0) == 0)
			return true;
	}
	return false;
}

// The file system the scratch folder, and the output folder in it, are on:
// QUILL_RECV_MEDIUM ("fat32" or "exfat") mounted at QUILL_RECV_MEDIUM_DIR
// (tests/media/on-medium does both), or "" for /tmp's.
const std::string medium = env_or("QUILL_RECV_MEDIUM", "");

// The errno the medium answers a name with when it cannot store it, fat32
// on FAT32, exfat on exFAT (0: it stores the name as given); 0 off a medium.
int
refused(int fat32, int exfat)
{
	return medium == "fat32" ? fat32 : medium == "exfat" ? exfat : 0;
}

const Program recv = program_from_env("QUILL_RECV", "QUILL_RECV_RUNNER", QUILL_BUILT_RECV);
// Wine loads no preloaded library: no faults there.
const char *faults = recv.wine ? nullptr : fault_library();
// A statically linked quillrecv has no iconv modules: it refuses --charset.
const bool static_recv = !recv.wine && recv.found() &&
    system(("readelf -l '" + recv.path + "' | grep -q INTERP").c_str()) != 0;
// What quillrecv adds when a name that is not UTF-8 was cut or refused.
const std::string hint = "the name is not UTF-8; if the sender's system uses a "
    "code page such as CP932, name it with --charset";

// Receiver r's connection to listener l, taken within 10 s, or -1 when r
// ends without connecting. A write to it that nothing reads for 10 s fails.
int
connection_from(const Launch &r, int l)
{
	int c = -1;
	struct pollfd ready = { l, POLLIN, 0 };
	struct timeval bound = { 10, 0 };

	for (int i = 0; i < 200 && c < 0 && r.running(); i++)
		if (poll(&ready, 1, 50) > 0)
			c = accept(l, nullptr, nullptr);
	EXPECT_TRUE(c >= 0 || !r.running()) << "no connection in 10 s";
	if (c >= 0)
		setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
	return c;
}

// A command line for a shell: every word quoted.
std::string
quoted(const std::vector<std::string> &words)
{
	std::string s;
	for (const auto &w : words) {
		s += " '";
		for (char c : w)
			s += c == '\'' ? std::string("'\\''") : std::string(1, c);
		s += "'";
	}
	return s;
}

class Recv : public E2E {
protected:
	void SetUp() override
	{
		if (!recv.found())
			GTEST_SKIP() << "QUILL_RECV is not set";
		E2E::SetUp();
		if (!medium.empty()) {
			// The scratch folder moves there, and what runs in it.
			std::string tmpl = env_or("QUILL_RECV_MEDIUM_DIR", "") +
			    std::string("/quilltest.XXXXXX");
			ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << strerror(errno);
			rmdir(dir_.c_str());
			dir_ = tmpl;
		}
		out_ = path("out");
		mkdir(out_.c_str(), 0755);
		if (recv.wine) {
			setenv("WINEDEBUG", "-all", 1);
			setenv("LC_ALL", "C.UTF-8", 1);	// file names in UTF-8; code page 1252
			// Sockets belong to the wineserver: it must live in this
			// test's namespace, so end the one an earlier test started.
			ASSERT_EQ(system("wineserver -k 2>/dev/null; wineserver -w"), 0);
		}
	}

	// Where the receiver says base goes in dir: Windows joins with '\'.
	static std::string at(const std::string &dir, const std::string &base)
	{
		return dir + (recv.wine ? "\\" : "/") + base;
	}

	// Whether quillrecv reads names in CP932: not without iconv modules (a
	// static one; riscv64, s390x and armel under qemu here).
	bool charsets()
	{
		static const bool yes = !recv.wine && !static_recv && (recv.runner.empty() ||
		    Launch(recv, { "--charset", "CP932", "--output", "/dev/null/x" },
		    dir_).wait().code == 1);
		return yes;
	}

	// o with Windows' CRLF line ends as LF.
	static Outcome lf(Outcome o)
	{
		for (auto *s : { &o.out, &o.err })
			for (size_t i = 0; recv.wine && (i = s->find("\r\n", i)) != std::string::npos;)
				s->erase(i, 1);
		return o;
	}

	// Serves stream to quillrecv (program_) started with args, then
	// closes; with at_end set, calls it with the receiver and the
	// connection instead, and closes the connection (unless at_end did,
	// setting it to -1) once the receiver has ended. On a terminal, the
	// receiver's standard output and error are one pseudo-terminal, read as
	// its output. connected_ tells whether the receiver connected.
	Outcome run(const std::string &stream, std::vector<std::string> args = {},
	    const std::vector<std::string> &env = {},
	    const std::function<void(Launch &, int &)> &at_end = nullptr,
	    bool terminal = false)
	{
		int l = hold_port21();
		if (output_arg_)
			args.insert(args.begin(), { "--output", out_ });
		Program p = program_;
		if (terminal) {
			std::vector<std::string> words = p.runner;
			words.push_back(p.path);
			words.insert(words.end(), args.begin(), args.end());
			p = Program();
			p.path = "script";
			args = { "-qec", quoted(words) + redirect_, "/dev/null" };
		}
		Launch r(p, args, dir_, env);
		int c = connection_from(r, l);
		connected_ = c >= 0;
		for (size_t at = 0; c >= 0 && at < stream.size();) {
			ssize_t n = write(c, stream.data() + at, stream.size() - at);
			EXPECT_FALSE(n < 0 && errno == EAGAIN) << "no byte read for 10 s";
			if (n <= 0)
				break;	// the receiver gave up
			at += (size_t)n;
		}
		if (at_end) {
			at_end(r, c);
		} else {
			close(c);
			c = -1;
		}
		Outcome o = lf(r.wait(limit_));
		if (c >= 0)
			close(c);
		struct pollfd queued = { l, POLLIN, 0 };
		connected_ = connected_ || poll(&queued, 1, 0) > 0;
		close(l);
		return o;
	}

	// What the receiver says when the file system refuses path with errno
	// e: a name's refusal as such.
	static std::string refusal(const std::string &path, int e)
	{
		if (e == EPERM || e == ENOENT || e == EILSEQ || e == EINVAL)
			return path + ": not a name this folder's file system allows (" +
			    strerror(e) + ")";
		return path + ": " + strerror(e);
	}

	// Run o, of a file the medium refused to name base with errno e, failed
	// saying why and left nothing.
	void expect_refused(const Outcome &o, const std::string &base, int e)
	{
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "quillrecv: " + refusal(at(out_, base), e) + "\n");
		EXPECT_EQ(o.out, "");
		EXPECT_TRUE(saved().empty()) << *saved().begin();
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
	bool output_arg_ = true;	// run() gives --output out_
	std::string redirect_;	// of the receiver's streams, on a terminal
	double limit_ = recv.wine ? 60 : 20;	// seconds a run may take
	Program program_ = recv;
	bool connected_ = false;
};

TEST_F(Recv, SavesUnderTheBaseName)
{
	const std::map<std::string, std::string> charset = { { "ja_JP.UTF-8", "CP932" },
	    { "zh_CN.UTF-8", "GBK" }, { "zh_TW.UTF-8", "BIG5" } };
	struct {
		std::string name, shown, base;
		size_t size;
		int fat32 = 0;	// FAT32's errno for the name (0: stores it)
		const char *locale = nullptr;	// Wine's for its code page; Linux takes --charset
		bool hint = false;	// says to give --charset
	} cases[] = {
		{ "data.bin", "data.bin", "data.bin", 4196 },
		{ "empty", "empty", "empty", 0 },
		{ "dir/sub/file.txt", "dir/sub/file.txt", "file.txt", 5000 },
		{ "C:\\files\\win.txt", "C:\\\\files\\\\win.txt", "win.txt", 10 },
		{ "/abs/big", "/abs/big", "big", 3 << 20 },
		// What a device may store is kept as sent.
		{ "-dash .hidden ümlaut €.txt", "-dash .hidden ümlaut €.txt",
		  "-dash .hidden ümlaut €.txt", 3, EPERM },
		{ ".dot", ".dot", ".dot", 1 },
		// A second byte 0x5c is no '\\'.
		{ "\x83\\\x83t\x83g.txt", "ソフト.txt", "ソフト.txt", 3, EPERM, "ja_JP.UTF-8" },
		{ "\x95\\\x8e\xa6\x83" "e\x83X\x83g.bin", "表示テスト.bin", "表示テスト.bin", 70000,
		  EPERM, "ja_JP.UTF-8" },
		{ "C:\\Users\\a\\\x83\\\x83t\x83g\x8a" "J\x94\xad\\\x97\\\x92\xe8\x95\\.xlsx",
		  "C:\\\\Users\\\\a\\\\ソフト開発\\\\予定表.xlsx", "予定表.xlsx", 10, EPERM, "ja_JP.UTF-8" },
		{ "\x94\x84\x8f\xe3\x95\\", "売上表", "売上表", 1, EPERM, "ja_JP.UTF-8" },
		{ "x\x81", "x\\x81", "", 1, 0, "ja_JP.UTF-8" },	// a lead byte cut off
		// Half-width katakana that would pass for UTF-8 alone: "Ⱥ.jpg".
		{ "\x8e\xca\x90^\\\xc8\xba.jpg", "写真\\\\ﾈｺ.jpg", "ﾈｺ.jpg", 1, EPERM, "ja_JP.UTF-8" },
		{ "\xd5\\\xd0\xc5.txt", "誠信.txt", "誠信.txt", 1, EPERM, "zh_CN.UTF-8" },	// 936
		{ "\xa5\\\xbd\xd2\xaa\xed.txt", "功課表.txt", "功課表.txt", 1, EPERM, "zh_TW.UTF-8" },	// 950
		{ "\xb3\\.txt", "許.txt", "許.txt", 9, EPERM, "zh_TW.UTF-8" },
		{ "\xb1\\x.txt", "ｱ\\\\x.txt", "x.txt", 1, 0, "ja_JP.UTF-8" },	// ｱ is one byte
		{ "あ/ソフト.txt", "あ/ソフト.txt", "ソフト.txt", 10, EPERM, "ja_JP.UTF-8" },	// UTF-8
		{ "\x83\x5c" "abc.txt", "\\x83\\\\abc.txt", "abc.txt", 11, 0, nullptr, true },
	};
	mode_t old = umask(027);	// the saved file follows it
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		if ((c.hint && recv.wine) || (c.locale != nullptr && !recv.wine && !charsets()))
			continue;	// Windows reads its code page
		std::string data = pattern(c.size, 9);
		Outcome o = run(stream_of(c.name, data), c.locale && !recv.wine ?
		    std::vector<std::string>{ "--charset", charset.at(c.locale) } : std::vector<std::string>{},
		    { "LC_ALL=" + std::string(c.locale ? c.locale : "C.UTF-8"), "LOCPATH=" +
		    std::string(env_or("QUILL_LOCPATH", "")) });
		if (c.base.empty()) {	// no text in the code page
			EXPECT_EQ(o.err, "quillrecv: " + (recv.wine ? at(out_, c.shown) + ": not a name in "
			    "code page 932" : out_ + "/" + c.shown + ": not a name in CP932 (" +
			    strerror(EILSEQ) + ")") + "\n");
			EXPECT_TRUE(o.code == 1 && saved().empty());
			continue;
		}
		if (int e = refused(c.fat32, 0)) {
			expect_refused(o, c.base, e);
			continue;
		}
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(o.err, c.hint ? "quillrecv: " + hint + "\n" : "");
		EXPECT_EQ(o.out, "received " + c.shown + ": " + std::to_string(c.size) +
		    " bytes, saved as " + at(out_, c.base) + "\n");
		EXPECT_EQ(saved(), std::set<std::string>{ c.base });
		EXPECT_TRUE(read_file(out_ + "/" + c.base) == data);
		struct stat st;
		EXPECT_EQ(stat((out_ + "/" + c.base).c_str(), &st), 0);
		if (!recv.wine && medium.empty()) {	// Windows' and a medium's have none
			EXPECT_EQ(st.st_mode & 07777, 0640u);
		}
		std::filesystem::remove(out_ + "/" + c.base);
	}
	umask(old);
}

// Names that must not reach a terminal raw: shown escaped everywhere, and
// refused when the base name holds a control character; on Windows, also
// when Windows cannot store it (a device, a character it keeps), and a name
// that is not UTF-8 is read in the code page (Wine's, for en_US: 1252).
TEST_F(Recv, HostileNames)
{
	struct {
		std::string name, shown, saved;	// saved: "" when refused
		const char *windows = nullptr;	// Windows saves as ("": refuses)
		// The errno of FAT32 and exFAT for the name (0: stores it). A name
		// that is not UTF-8 neither sees (EILSEQ, quillrecv's own): exFAT's
		// daemon dies of a surrogate, and stores an overlong form or one
		// past U+10FFFF under another name.
		int fat32 = 0, exfat = 0;
	} cases[] = {
		{ "\x1b]0;pwned\x07" "evil.txt", "\\x1b]0;pwned\\x07evil.txt", "" },
		{ "\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H", "" },
		{ "a\nreceived forged", "a\\x0areceived forged", "" },
		{ "tab\there", "tab\\x09here", "" },
		{ "del\x7f", "del\\x7f", "" },
		{ "us\x1f", "us\\x1f", "" },		// the last C0 control
		{ "esc\x1b/in/dir/ok.txt", "esc\\x1b/in/dir/ok.txt", "ok.txt" },
		// Bytes that are not UTF-8, and C1 controls, are stored but shown
		// escaped.
		{ "latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9", "latin1 \xe9t\xe9", "latin1 été",
		  EILSEQ, EILSEQ },
		{ "overlong \xc0\xaf", "overlong \\xc0\\xaf", "overlong \xc0\xaf", "overlong À¯",
		  EILSEQ, EILSEQ },
		{ "surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80",
		  "surrogate \xed\xa0\x80", "surrogate í\xc2\xa0€", EILSEQ, EILSEQ },
		{ "cut \xe2\x82", "cut \\xe2\\x82", "cut \xe2\x82", "cut â‚", EILSEQ, EILSEQ },
		{ "csi \xc2\x9b", "csi \\xc2\\x9b", "csi \xc2\x9b", nullptr, EPERM },
		{ "apc \xc2\x9f", "apc \\xc2\\x9f", "apc \xc2\x9f", nullptr, EPERM },	// the last C1
		{ "nbsp \xc2\xa0", "nbsp \xc2\xa0", "nbsp \xc2\xa0", nullptr, EPERM },	// and after it
		{ "dir/\x01x", "dir/\\x01x", "" },	// the base name's first byte
		{ "\xc3\x80", "\xc3\x80", "\xc3\x80", nullptr, EPERM },	// the lowest continuation byte
		{ "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", nullptr, EPERM },
		{ "c0 \xc3\xc0", "c0 \\xc3\\xc0", "c0 \xc3\xc0", "c0 ÃÀ", EILSEQ, EILSEQ },
		{ "overlong \xe0\x9f\xbf", "overlong \\xe0\\x9f\\xbf", "overlong \xe0\x9f\xbf",
		  "overlong àŸ¿", EILSEQ, EILSEQ },
		{ "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\xf4\x90\x80\x80",	// U+110000
		  "ô\xc2\x90€€", EILSEQ, EILSEQ },
		// What Windows refuses, Linux stores.
		{ "CON", "CON", "CON", "" },
		{ "dir/con.txt", "dir/con.txt", "con.txt", "" },
		{ "CON .txt", "CON .txt", "CON .txt", "" },
		{ "COM9", "COM9", "COM9", "" },
		{ "lpt1.log", "lpt1.log", "lpt1.log", "" },
		{ "COM0", "COM0", "COM0", "" },
		{ "lpt\xc2\xb3.c", "lpt\xc2\xb3.c", "lpt\xc2\xb3.c", "", EPERM },	// a superscript 3
		{ "CONOUT$", "CONOUT$", "CONOUT$", "" },
		{ "COMA", "COMA", "COMA" },	// no device
		{ "CONSOLE", "CONSOLE", "CONSOLE" },
		{ "COM10", "COM10", "COM10" },	// no device: not one digit
		{ "LPT1x", "LPT1x", "LPT1x" },
		{ "CO", "CO", "CO" },		// no device: only its start
		{ "NU.txt", "NU.txt", "NU.txt" },
		{ "a:b", "a:b", "a:b", "", EPERM, ENOENT },
		{ "why?", "why?", "why?", "", EPERM, ENOENT },
		{ "x.", "x.", "x.", "" },
		{ "sp ", "sp ", "sp ", "" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.shown);
		Outcome o = run(stream_of(c.name, "x"));
		if (c.saved.empty()) {
			EXPECT_EQ(o.code, 1);
			EXPECT_EQ(o.err, "quillrecv: bad stream: name \"" + c.shown +
			    "\" holds a control character\n");
			EXPECT_EQ(o.out, "");
			EXPECT_TRUE(saved().empty());
			continue;
		}
		std::string base = c.shown.substr(c.shown.rfind('/') + 1);
		if (int e = refused(c.fat32, c.exfat)) {
			expect_refused(o, base, e);
			continue;
		}
		if (recv.wine && c.windows != nullptr && *c.windows != '\0') {
			std::string as = c.windows, seen = as;	// its C1 control escaped
			if (seen.find("\xc2\x90") != std::string::npos)
				seen.replace(seen.find("\xc2\x90"), 2, "\\xc2\\x90");
			EXPECT_EQ(o.out, "received " + seen + ": 1 bytes, saved as " +
			    at(out_, seen) + "\n");	// read in the code page too
			EXPECT_EQ(saved(), std::set<std::string>{ as });
			std::filesystem::remove(out_ + "/" + as);
			continue;
		}
		if (recv.wine && c.windows != nullptr) {
			EXPECT_EQ(o.code, 1);
			EXPECT_EQ(o.err, "quillrecv: " + at(out_, base) + ": not a name "
			    "Windows allows\n");
			EXPECT_EQ(o.out, "");
			EXPECT_TRUE(saved().empty()) << *saved().begin();
			continue;
		}
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(o.out, "received " + c.shown + ": 1 bytes, saved as " +
		    at(out_, base) + "\n");
		EXPECT_EQ(saved(), std::set<std::string>{ c.saved });
		std::filesystem::remove(out_ + "/" + c.saved);
	}
}

TEST_F(Recv, BadStreamsLeaveNothing)
{
	const std::string z(1, '\0');
	std::string ones;	// the longest name, every byte escaped, shown whole
	for (int i = 0; i < 4095; i++)
		ones += "\\x01";
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
		{ "escaped dot dot", le32(16) + "\x1b[31mRED\x1b[0m/.." + z + le32(0),
		  "bad stream: name \"\\x1b[31mRED\\x1b[0m/..\" names no file" },
		{ "dot dot base", le32(3) + ".." + z + le32(0),
		  "bad stream: name \"..\" names no file" },
		{ "4095 control bytes", le32(4096) + std::string(4095, '\x01') + z + le32(0),
		  "bad stream: name \"" + ones + "\" holds a control character" },
		{ "negative size", le32(2) + "n" + z + le32(0xfffffffe),
		  "bad stream: negative file size" },
		{ "ends in header", le32(2) + "n", "bad stream: stream ended inside the header" },
		{ "short data", le32(2) + "s" + z + le32(5) + "1234",
		  "bad stream: stream ended before all data arrived (4 of 5 bytes)" },
		{ "extra data", le32(2) + "e" + z + le32(5) + "123456",
		  "bad stream: more data than announced" },
		{ "売上表 in CP932", le32(7) + "\x94\x84\x8f\xe3\x95\x5c" + z + le32(0),
		  "bad stream: name \"\\x94\\x84\\x8f\\xe3\\x95\\\\\" names no file\n"
		  "quillrecv: " + hint },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		if (recv.wine && c.err.find(hint) != std::string::npos)
			continue;	// Windows reads the name in its code page
		Outcome o = run(c.stream);
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "quillrecv: " + c.err + "\n");
		EXPECT_EQ(o.out, "");
		EXPECT_TRUE(saved().empty()) << *saved().begin();
	}
}

// A copy is numbered before its extension. What runs killed outright
// left is removed, unless its process lives here or one elsewhere holds
// it locked; the run's own partial file takes the next free name then.
TEST_F(Recv, ReplacesOnlyWhenForced)
{
	// In turn, into a folder holding a file f, a read-only file r, a
	// folder d, and a.tar.gz and .profile; what each run saves as ("":
	// nothing, with err; refused before the data, so none is sent), where
	// names differing only in case are one (a medium, Windows) as what, if
	// not the same, and on Linux as what, if not the same.
	const bool folds = !medium.empty() || recv.wine;
	struct {
		std::string name, data, flag, as, err, folded = "", posix = "";
	} cases[] = {
		{ "f", "one", "", "f (1)", "" },
		{ "f", "two", "", "f (2)", "" },
		{ "f", "new", "--force", "f", "" },
		{ "d", "dir", "", "d (1)", "" },
		{ "a.tar.gz", "two", "", "a.tar (1).gz", "" },
		{ ".profile", "two", "", ".profile (1)", "" },
		{ "F", "cap", "", "F", "", "F (3)" },
		// Not even --force replaces a folder, nor on Windows a read-only file.
		{ "d", "dir", "--force", "", "d: Is a directory" },
		{ "r", "new", "--force", "", "r: Permission denied", "", "r" },
	};
	// Left by runs: on Linux one alive (the test's), one locked by the
	// test, one gone with its claim; on Windows one gone, and a folder that
	// only looks like one.
	const std::string alive = ".quillrecv." + std::to_string(getpid()) +
	    ".0.811c9dc5.partial", locked = ".quillrecv.2147483646.0.811c9dc5.partial";
	std::set<std::string> left = { "f", "d", "a.tar.gz", ".profile", "r" };
	for (const char *f : { "f", "a.tar.gz", ".profile", "r" })
		write_file(out_ + "/" + f, "old");
	chmod((out_ + "/r").c_str(), 0444);
	mkdir((out_ + "/d").c_str(), 0755);
	int held = -1;
	if (recv.wine) {	// Windows knows them by the handles open on them
		write_file(out_ + "/.quillrecv.4242.0.partial", "part");
		mkdir((out_ + "/.quillrecv.1.0.partial").c_str(), 0755);
		left.insert(".quillrecv.1.0.partial");
	} else {
		write_file(out_ + "/" + alive, "");
		write_file(out_ + "/.quillrecv.2147483647.3.1f62aaae.partial", "");
		mkdir((out_ + "/gone").c_str(), 0700);	// 1f62aaae
		held = open((out_ + "/" + locked).c_str(), O_WRONLY | O_CREAT, 0666);
		struct flock lock = {};
		lock.l_type = F_WRLCK;
		ASSERT_EQ(fcntl(held, F_SETLK, &lock), 0);
		left.insert({ alive, locked });
	}
	for (auto c : cases) {
		SCOPED_TRACE(c.name + " " + c.flag);
		if (folds && !c.folded.empty())
			c.as = c.folded;
		if (!recv.wine && !c.posix.empty()) {
			c.as = c.posix;
			c.err = "";
		}
		if (!c.as.empty())
			left.insert(c.as);
		Outcome o = run(c.as.empty() ? header_of(c.name, 3) : stream_of(c.name,
		    c.data), c.flag.empty() ?
		    std::vector<std::string>{} : std::vector<std::string>{ c.flag },
		    faults ? with_faults(faults, "pid=2147483646") :
		    std::vector<std::string>{});
		EXPECT_EQ(o.code, c.as.empty() ? 1 : 0) << o.err;
		EXPECT_EQ(o.err, c.err.empty() ? "" : "quillrecv: " + at(out_, c.err) + "\n");
		EXPECT_EQ(o.out, c.as.empty() ? "" : "received " + c.name + ": 3 bytes, "
		    "saved as " + at(out_, c.as) + "\n");
		if (!c.as.empty()) {
			EXPECT_EQ(read_file(out_ + "/" + c.as), c.data);
		}
	}
	close(held);
	EXPECT_EQ(read_file(out_ + "/f (1)"), "one");
	EXPECT_EQ(saved(), left);
}

// What can go wrong on this side: a folder that cannot take the file,
// failed and short writes (injected), a sender that resets the connection.
// The stream is read; nothing is saved unless it all was.
TEST_F(Recv, LocalFailures)
{
	// Folders of 4060 bytes and more, where the partial file's name (with
	// pid 4242) takes 35 more and PATH_MAX is 4096 with the final zero.
	std::string deep;
	while (deep.size() < 4060)
		deep += "./";
	write_file(path("stream"), "");	// a file where a folder should be
	const std::string data = pattern(100000, 4), m255(255, 'm');
	// AddressSanitizer reads its options and the threads from /proc.
#ifdef __SANITIZE_ADDRESS__
	const std::vector<std::string> no_proc = {};
#else
	const std::vector<std::string> no_proc = { "unshare", "-m", "sh", "-c",
	    "mount -t tmpfs none /proc && exec \"$0\" \"$@\"" };
#endif
	struct {
		std::string what, name;
		std::vector<std::string> args;
		std::string fault, err;	// err: "" when the file must be saved
		bool reset, connects = true, kept = false, old = false;
		std::vector<std::string> runner = {};	// before the program's own
		bool posix = false;	// a row for Linux alone: its limits, its namespaces
		bool here = false;	// no --output: saved where it runs
		std::string hosts = "";	// its /etc/hosts, if not the system's
		bool taken = false;	// on Windows, the staging name of each plausible pid is a folder
	} cases[] = {
		{ "folders made", "f", { "--output", "made/a/b" }, "", "", false },
		{ "folders past 260 characters", "f", { "--output", std::string(200, 'a') +
		  "/" + std::string(100, 'b') + "/" }, "", "", false },
		{ "staging names taken", "f", {}, "", "", false, true, false, false, {}, false,
		  false, "", true },
		{ "no --output", "f", {}, "", "", false, true, false, false, {}, false, true },
		// The sender listens on IPv4: so must the name be taken.
		{ "localhost is ::1 first", "f", { "--host", "localhost" }, "", "", false, true,
		  false, false, {}, true, false, "::1 localhost\n127.0.0.1 localhost\n" },
		{ "no folder can be made", "f", { "--output", "stream/a" }, "", "cannot "
		  "save files in stream/a: Not a directory", false, false },
		{ "not a folder", "f", { "--output", "stream" }, "", "cannot save "
		  "files in stream: Not a directory", false, false },
		{ "--output of PATH_MAX bytes", "f", { "--output", deep + deep.substr(0, 36) },
		  "", "cannot save files in " + deep + deep.substr(0, 36) + ": File name "
		  "too long", false, false, false, false, {}, true },
		{ "the partial file's name just fits", "f", { "--output", deep }, "pid=4242",
		  "", false, true, false, false, {}, true },
		{ "no room for the partial file's name", "f", { "--output", deep + "." },
		  "pid=4242", "cannot save files in " + deep + ".: File name too long", false,
		  false, false, false, {}, true },
		{ "the path just fits", std::string(34, 'n'), { "--output", deep }, "pid=4242",
		  "", false, true, false, false, {}, true },
		{ "path too long", std::string(35, 'n'), { "--output", deep }, "pid=4242",
		  deep + "/" + std::string(35, 'n') + ": path too long", false, true, false,
		  false, {}, true },
		{ "write fails", "f", {}, "writefail=28",
		  out_ + "/f: No space left on device", false },
		{ "short writes", "f", {}, "writemax=999", "", false },
		{ "fsync fails", "f", {}, "fsyncfail=5", out_ + "/f: Input/output error",
		  false },
		{ "folder sync: EINVAL", "f", {}, "dirsync=22", "", false },
		{ "folder sync fails: the file stays", "f", {}, "dirsync=5", out_ + ": "
		  "Input/output error: " + out_ + "/f may not survive a crash", false, true,
		  true },
		// Kept, and no room for NAME (1) beside a name of the longest length:
		// refused before the data (FAT32 says so with EPERM).
		{ "no numbered name", m255, {}, "", refusal(at(out_, m255) + " (1)",
		  refused(EPERM, 0) ? EPERM : ENAMETOOLONG), false, true, true, true },
		{ "a name too long", m255 + "m", {}, "", refusal(at(out_, m255) + "m",
		  refused(EPERM, 0) ? EPERM : ENAMETOOLONG), false },
		{ "path too long in UTF-8", std::string(12, '\xb1'), { "--output", deep, "--charset",
		  "CP932" }, "pid=4242", deep + "/ｱｱｱｱｱｱｱｱｱｱｱｱ: path too long", false, true, false,
		  false, {}, true },	// 12 bytes as sent, 36 in UTF-8
		{ "no /proc", "f", {}, "", "", false, true, false, false, no_proc, true },
		{ "poll fails", "f", {}, "poll=14", "poll: Bad address", false },
		{ "refused 5 times, 100 ms apart", "f", { "--wait", "1" }, "connect=5", "", false },
		{ "refused 15 times: over 1 s", "f", { "--wait", "1" }, "connect=15",
		  "connect to 127.0.0.1 port 21: Connection refused", false, false },
		{ "refused, no --wait", "f", { "--wait", "0" }, "connect=1",
		  "connect to 127.0.0.1 port 21: Connection refused", false, false },
		{ "reset", "f", {}, "", "read: Connection reset by peer", true },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		if ((!c.fault.empty() && faults == nullptr) || (recv.wine && c.posix) ||
		    (!charsets() && std::count(c.args.begin(), c.args.end(), "--charset")))
			continue;
		output_arg_ = !c.here;
		// Wine reads a reset after the data as a close, or as the connect's
		// failure when it comes before the connect is seen.
		if (recv.wine && c.reset)
			continue;
		if (c.old)
			write_file(out_ + "/" + c.name, "old");
		program_ = recv;
		program_.runner.insert(program_.runner.begin(), c.runner.begin(), c.runner.end());
		if (!c.hosts.empty()) {
			write_file(path("hosts"), c.hosts);
			program_.runner.insert(program_.runner.begin(), { "unshare", "-m",
			    "sh", "-c", "mount --bind hosts /etc/hosts && exec \"$0\" \"$@\"" });
		}
		for (int pid = 0; c.taken && recv.wine && pid < 8192; pid += 4)	// 4 apart there
			mkdir((out_ + "/.quillrecv." + std::to_string(pid) + ".0.partial").c_str(), 0755);
		Outcome o = run(stream_of(c.name, data), c.args, c.fault.empty() ?
		    std::vector<std::string>{} : with_faults(faults, c.fault),
		    [&](Launch &, int &s) {
			if (c.reset) {
				struct linger now = { 1, 0 };	// close with a reset
				setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof(now));
			}
			close(s);
			s = -1;
		});
		if (c.err.empty()) {
			std::string at = c.here ? dir_ : !c.args.empty() && c.args[0] == "--output" ?
			    std::filesystem::path(path(c.args[1])).lexically_normal().string() : out_;
			EXPECT_EQ(o.code, 0) << o.err;
			EXPECT_TRUE(read_file(at + "/" + c.name) == data);
			std::filesystem::remove_all(out_);
			mkdir(out_.c_str(), 0755);
			std::filesystem::remove(at + "/" + c.name);
			continue;
		}
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "quillrecv: " + c.err + "\n");
		EXPECT_EQ(connected_, c.connects);
		EXPECT_EQ(saved(), std::set<std::string>(&c.name, &c.name + c.kept));
		std::error_code none;	// a name too long is not there
		std::filesystem::remove(out_ + "/" + c.name, none);
	}
}

// However the run ends early, the folder is left as it was; a run killed
// outright leaves its partial file (and its claim, a folder), which the
// next run there removes. A signal in each window of the file's naming: as
// the partial file is made, renamed to name the claim, the claim made, the
// claim removed for the commit (which then completes).
TEST_F(Recv, InterruptedLeavesNothing)
{
	const std::string part = stream_of("part", std::string(100, 'p')).substr(0, 60);
	struct {
		int sig;
		std::string fault;	// "": once the receiver holds the file
		bool saved = false;
	} cases[] = {
		{ SIGINT, "" }, { SIGTERM, "" }, { SIGHUP, "" }, { SIGKILL, "" },
		{ SIGTERM, "opensig" }, { SIGHUP, "renamesig" }, { SIGINT, "mkdirsig" },
		{ SIGTERM, "rmdirsig", true }, { SIGKILL, "opensig" }, { SIGKILL, "mkdirsig" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(strsignal(c.sig)) + " " + c.fault);
		if (!c.fault.empty() && faults == nullptr)
			continue;
		Outcome o = c.fault.empty() ? run(part, {}, {}, [&](Launch &r, int &) {
			// Once the receiver holds the file, and has claimed the name.
			for (int i = 0; i < 2000 && !(holds_file(r.pid(), out_) &&
			    saved().count("part")); i++)
				std::this_thread::sleep_for(std::chrono::milliseconds(5));
			// Its partial file is locked, for a run on another computer.
			for (const auto &f : saved()) {
				struct flock lock = {};
				lock.l_type = F_WRLCK;
				int fd = open((out_ + "/" + f).c_str(), O_RDONLY);
				if (!recv.wine && f.rfind(".quillrecv.", 0) == 0 &&
				    fcntl(fd, F_GETLK, &lock) == 0) {
					EXPECT_EQ(lock.l_pid, r.pid()) << f;
				}
				close(fd);
			}
			// A run in the same folder meanwhile leaves its files be.
			auto before = saved();
			if (c.sig == SIGKILL)
				Launch(recv, { "--output", out_, "--wait", "0", "--port",
				    "9" }, dir_).wait(limit_);
			auto after = saved();
			EXPECT_TRUE(std::includes(after.begin(), after.end(),
			    before.begin(), before.end()));
			kill(r.pid(), c.sig);
		}) : run(stream_of("part", "p"), {}, with_faults(faults, c.fault + "=" +
		    std::to_string(c.sig)));
		// Wine takes SIGINT for Ctrl-C, and ends the run with status 0.
		bool ctrl_c = recv.wine && c.sig == SIGINT;
		EXPECT_EQ(o.signaled, !ctrl_c);
		EXPECT_EQ(o.code, ctrl_c ? 0 : c.sig);
		EXPECT_EQ(o.out, "");
		// Windows removes even a killed run's file: it is delete-pending.
		if (c.sig == SIGKILL && !recv.wine) {
			EXPECT_FALSE(saved().empty());
			o = run(stream_of("next", "n"));
			EXPECT_EQ(o.code, 0) << o.err;
			std::filesystem::remove(out_ + "/next");
		}
		EXPECT_EQ(saved(), c.saved ? std::set<std::string>{ "part" } :
		    std::set<std::string>{});
		std::filesystem::remove(out_ + "/part");
	}
	// A broken stream, too.
	Outcome o = run(part);
	EXPECT_EQ(o.code, 1);
	EXPECT_TRUE(saved().empty());
	if (recv.wine)
		return;	// a signal its parent left ignored is POSIX's alone
	// Started with SIGHUP ignored, as nohup starts it, it goes on.
	program_.runner.insert(program_.runner.begin(), "nohup");
	const std::string rest = stream_of("part", std::string(100, 'p')).substr(60);
	o = run(part, {}, {}, [&](Launch &r, int &s) {
		for (int i = 0; i < 2000 && !holds_file(r.pid(), out_); i++)
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		kill(r.pid(), SIGHUP);
		EXPECT_EQ(write(s, rest.data(), rest.size()), (ssize_t)rest.size());
		close(s);
		s = -1;
	});
	EXPECT_EQ(o.code, 0) << o.err;
	EXPECT_EQ(saved(), std::set<std::string>{ "part" });
}

// A sender that goes quiet is given up after --timeout, not sooner, with
// what arrived; --timeout 0 waits for it. A time-out of 30 s or under a
// millisecond is seen through poll's time-outs scaled (pollscale).
TEST_F(Recv, StalledSenderTimesOut)
{
	std::string header = stream_of("stall", "").substr(0, 14);
	struct {
		std::string what, stream, timeout, err;	// timeout "": none given
		std::string fault = "";
	} cases[] = {
		{ "nothing", "", "0.5", "no byte for 0.5 s: stream stalled inside the "
		  "header (0 bytes arrived)" },
		{ "in the header", header.substr(0, 6), "0.5", "no byte for 0.5 s: "
		  "stream stalled inside the header (6 bytes arrived)" },
		{ "in the data", le32(6) + "stall" + std::string(1, '\0') + le32(100) +
		  "abc", "0.5", "no byte for 0.5 s: stream stalled before all data "
		  "arrived (3 of 100 bytes)" },
		// Still waiting when the sender closes, 1.5 s on.
		{ "no time-out", header.substr(0, 6), "0",
		  "bad stream: stream ended inside the header" },
		// 30 s, seen as 0.6 s.
		{ "no --timeout", "", "", "no byte for 30 s: stream stalled inside the "
		  "header (0 bytes arrived)", "pollscale=20" },
		// A whole millisecond at least, seen as 1 s.
		{ "under a millisecond", "", "0.0004", "no byte for 0.0004 s: stream "
		  "stalled inside the header (0 bytes arrived)", "pollscale=1000000" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		if (!c.fault.empty() && faults == nullptr)
			continue;
		auto start = std::chrono::steady_clock::now();
		std::vector<std::string> args = { "--timeout", c.timeout };
		if (c.timeout.empty())
			args.clear();
		Outcome o = run(c.stream, args, with_faults(faults, c.fault),
		    [&](Launch &r, int &s) {
			if (c.timeout != "0")
				return;	// the connection stays open
			std::this_thread::sleep_for(std::chrono::milliseconds(1500));
			EXPECT_TRUE(r.running()) << "gave up without a time-out";
			close(s);
			s = -1;
		});
		std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
		EXPECT_GE(took.count(), 0.5) << "gave up before the time-out";
		EXPECT_EQ(o.code, 1);
		EXPECT_EQ(o.err, "quillrecv: " + c.err + "\n");
		EXPECT_TRUE(saved().empty());
	}
}

// On a terminal: a bar once the header is whole, redrawn at most ten times
// a second, the last one drawn showing all that arrived; an error on a line
// of its own only after a bar.
TEST_F(Recv, ProgressBarOnATerminal)
{
	if (recv.wine)
		GTEST_SKIP() << "a pseudo-terminal is no Windows console";
	const std::string head = le32(2) + "f" + std::string(1, '\0'), full(40, '#');
	const std::string saved = " bytes, saved as " + out_ + "/f\r\n";
	std::vector<std::string> many = { head + le32(20000) };
	many.resize(21, std::string(1000, 'm'));
	struct {
		std::string what;
		std::vector<std::string> pieces;
		int pause_ms;		// between pieces
		std::string last;	// the output from the last bar on
		int bars;		// drawn at most
		std::string fault = "", redirect = "";	// " 2>err": stderr to a file
	} cases[] = {
		{ "whole", { head + le32(5) + "12345" }, 0,
		  "\r[" + full + "] 100% 5/5\r\nreceived f: 5" + saved, 1 },
		{ "empty", { head + le32(0) }, 0,
		  "\r[" + full + "] 100% 0/0\r\nreceived f: 0" + saved, 1 },
		{ "header in pieces", { head.substr(0, 3), head.substr(3) + le32(5) +
		  "12345" }, 50, "\r[" + full + "] 100% 5/5\r\nreceived f: 5" + saved, 1 },
		{ "many reads", many, 5,
		  "\r[" + full + "] 100% 20000/20000\r\nreceived f: 20000" + saved, 21 },
		{ "cut off", { head + le32(5) + "12", "34" }, 50,
		  "\r[################################........]  80% 4/5\r\nquillrecv: "
		  "bad stream: stream ended before all data arrived (4 of 5 bytes)\r\n", 2 },
		{ "no bar", { le32(0) }, 0,
		  "quillrecv: bad stream: name length out of range\r\n", 0 },
		// The bar ended once, so the message follows on the next line.
		{ "fails once whole", { head + le32(5) + "12345" }, 0, "\r[" + full +
		  "] 100% 5/5\r\nquillrecv: " + out_ + "/f: Input/output error\r\n", 1,
		  "fsyncfail=5" },
		// The bar is standard error's, so only its terminal shows one.
		{ "only standard output a terminal", { head + le32(5) + "12345" }, 0,
		  "received f: 5" + saved, 0, "", " 2>err" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		if (!c.fault.empty() && faults == nullptr)
			continue;
		redirect_ = c.redirect;
		auto start = std::chrono::steady_clock::now();
		Outcome o = run(c.pieces[0], {}, with_faults(faults, c.fault),
		    [&](Launch &, int &s) {
			for (size_t i = 1; i < c.pieces.size(); i++) {
				std::this_thread::sleep_for(std::chrono::milliseconds(c.pause_ms));
				EXPECT_EQ(write(s, c.pieces[i].data(), c.pieces[i].size()),
				    (ssize_t)c.pieces[i].size());
			}
			close(s);
			s = -1;
		}, true);
		std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
		int bars = 0;
		for (size_t at = 0; (at = o.out.find("\r[", at)) != std::string::npos; at++)
			bars++;
		EXPECT_LE(bars, std::min(c.bars, (int)(took.count() * 10) + 2)) << o.out;
		size_t last = o.out.rfind("\r[");
		EXPECT_EQ(o.out.substr(last == std::string::npos ? 0 : last), c.last);
		if (!c.redirect.empty()) {
			EXPECT_EQ(read_file(path("err")), "");
		}
		std::filesystem::remove(out_ + "/f");
	}
}

// Up to the end of --wait (10 s when not given), not less.
TEST_F(Recv, WaitsForTheSenderToListen)
{
	for (const auto &wait : { std::vector<std::string>{ "--wait", "2" },
	    std::vector<std::string>{} }) {
		SCOPED_TRACE(wait.empty() ? "no --wait" : "--wait 2");
		std::vector<std::string> args = { "--output", out_ };
		args.insert(args.end(), wait.begin(), wait.end());
		Launch r(recv, args, dir_);
		std::this_thread::sleep_for(std::chrono::milliseconds(1500));
		int l = hold_port21();
		int c = connection_from(r, l);
		std::string s = stream_of("late", "data");
		EXPECT_EQ(write(c, s.data(), s.size()), (ssize_t)s.size());
		close(c);
		close(l);
		Outcome o = r.wait(limit_);
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(read_file(out_ + "/late"), "data");
		std::filesystem::remove(out_ + "/late");
	}
}

TEST_F(Recv, CommandLine)
{
	const std::string usage = "usage: quillrecv";
	// What comes in to port 2122 is dropped: a connect there gets no answer.
	// At port 2123 the handshake's last step meets a reset.
	ASSERT_EQ(system("nft 'add table ip t; add chain ip t in { type filter "
	    "hook input priority 0; }; add rule ip t in tcp dport 2122 drop; add rule "
	    "ip t in tcp dport 2123 tcp flags == ack reject with tcp reset'"), 0);
	int l = socket(AF_INET, SOCK_STREAM, 0);
	struct sockaddr_in at = { AF_INET, htons(2123), { htonl(INADDR_LOOPBACK) }, {} };
	ASSERT_EQ(bind(l, (struct sockaddr *)&at, sizeof(at)) | listen(l, 1), 0);
	struct Case {
		std::vector<std::string> args;
		int code;
		std::string out_starts, err_starts;
		bool usage = false;	// standard error holds the usage
		std::vector<std::string> env = {};
		double takes = 0;	// seconds at least
		double runs = 0;	// still running so long on, then ended by SIGTERM
		double under = 60;	// seconds at most
	};
	std::vector<Case> cases = {
		{ { "--wait", "0", "--port", "65535" }, 1, "",
		  "quillrecv: connect to 127.0.0.1 port 65535: Connection refused\n" },
		{ { "--help" }, 0, usage, "" },
		{ { "-h" }, 0, usage, "" },
		{ { "--wait", "1", "--port", "2122" }, 1, "",
		  "quillrecv: connect to 127.0.0.1 port 2122: no answer in 1 s\n", false, {}, 1 },
		// No --wait: only the kernel bounds the one try.
		{ { "--wait", "0", "--port", "2122" }, SIGTERM, "", "", false, {}, 0, 1.5 },
		{ { "--port", "65536" }, 2, "", "quillrecv: bad --port: 65536\n" },
		{ { "--port", "0" }, 2, "", "quillrecv: bad --port: 0\n" },
		{ { "--port", "abc" }, 2, "", "quillrecv: bad --port: abc\n" },
		{ { "--port", "21x" }, 2, "", "quillrecv: bad --port: 21x\n" },
		{ { "--version" }, 0, "quillrecv ", "" },
		{ { "--wait", "soon" }, 2, "", "quillrecv: bad --wait: soon\n" },
		{ { "--timeout", "-1" }, 2, "", "quillrecv: bad --timeout: -1\n" },
		// Its milliseconds must fit poll's int.
		{ { "--timeout", "1000000", "--wait", "0", "--port", "65535" }, 1, "",
		  "quillrecv: connect to 127.0.0.1 port 65535: Connection refused\n" },
		{ { "--timeout", "1000001" }, 2, "", "quillrecv: bad --timeout: 1000001\n" },
		{ { "--wait", "nan" }, 2, "", "quillrecv: bad --wait: nan\n" },
		{ { "--timeout", "" }, 2, "", "quillrecv: bad --timeout: \n" },
		{ { "--wait", "" }, 2, "", "quillrecv: bad --wait: \n" },
		// Only a refused connection is tried again.
		{ { "--host", "192.0.2.1", "--wait", "10" }, 1, "",
		  "quillrecv: connect to 192.0.2.1 port 21: Network is unreachable\n",
		  false, {}, 0, 0, 5 },
		{ { "--port", "2123", "--wait", "10" }, 1, "", "quillrecv: connect to "
		  "127.0.0.1 port 2123: Connection reset by peer\n", false, {}, 0, 0, 5 },
		{ { "--host", "localhost", "--wait", "0" }, 1, "",
		  "quillrecv: connect to localhost port 21: Connection refused\n" },
		{ { "--unknown" }, 2, "", "", true },
		{ { "stray" }, 2, "", "quillrecv: unexpected argument: stray\n", true },
		{ { "--host", "no.such.host.invalid" }, 1, "",
		  "quillrecv: no.such.host.invalid port 21: " },
	};
	if (!recv.wine)	// '+' is not itself in UTF-7; a static quillrecv reads no set
		cases.push_back({ { "--charset", "UTF-7" }, 2, "", "quillrecv: bad --charset: UTF-7: " +
		    std::string(static_recv ? "a statically linked quillrecv reads names as UTF-8 "
		    "only\n" : "not a character set quillrecv reads names in\n") });
	if (faults != nullptr)
		cases.push_back({ { "--wait", "0" }, 1, "",
		    "quillrecv: socket: Too many open files\n", false,
		    with_faults(faults, "socket=24") });
	for (const auto &c : cases) {
		SCOPED_TRACE(c.args[0]);
		if (recv.wine && c.runs > 0)
			continue;	// Wine ends on a signal in a way of its own
		auto start = std::chrono::steady_clock::now();
		Launch r(recv, c.args, dir_, c.env);
		if (c.runs > 0) {
			std::this_thread::sleep_for(std::chrono::duration<double>(c.runs));
			EXPECT_TRUE(r.running());
			kill(r.pid(), SIGTERM);
		}
		Outcome o = lf(r.wait(recv.wine ? 60 : 5));	// none of these waits
		std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
		EXPECT_GE(took.count(), c.takes);
		EXPECT_LT(took.count(), c.under);
		EXPECT_EQ(o.code, c.code);
		EXPECT_EQ(o.out.substr(0, c.out_starts.size()), c.out_starts);
		EXPECT_EQ(o.err.substr(0, c.err_starts.size()), c.err_starts);
		if (c.usage) {
			EXPECT_NE(o.err.find(usage), std::string::npos) << o.err;
		} else if (c.err_starts.empty()) {
			EXPECT_EQ(o.err, "");
		}
	}
	close(l);
}

}  // namespace
