#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <thread>

namespace quilltest {

const char *
env_or(const char *var, const char *fallback)
{
	const char *v = getenv(var);

	return v != nullptr ? v : fallback;
}

std::vector<std::string>
with_faults(const char *lib, const std::string &faults)
{
	if (faults.empty())
		return {};
	return { std::string("LD_PRELOAD=") + lib, "QUILL_FAULTS=" + faults };
}

Program
program_from_env(const char *var, const char *runner_var, const char *built)
{
	Program p;
	const char *v = getenv(var), *r = runner_var ? getenv(runner_var) : nullptr;

	if (v == nullptr)
		v = built;

	if (v == nullptr || *v == '\0')
		return p;
	p.path = v;
	if (r != nullptr && *r != '\0') {
		std::istringstream words(r);
		for (std::string w; words >> w;)
			p.runner.push_back(w);
		std::string base = std::filesystem::path(p.runner[0]).filename();
		p.guest_env = base.rfind("qemu-", 0) == 0;
		p.wine = base.find("wine") != std::string::npos;
	}
	return p;
}

Launch::Launch(const Program &p, const std::vector<std::string> &args,
    const std::string &cwd, const std::vector<std::string> &env, uid_t uid)
{
	std::vector<std::string> argv = p.runner;
	std::vector<std::string> vars = env;

	if (p.guest_env) {
		// The guest inherits qemu's environment, so variables go there as
		// they are; only LD_PRELOAD, which would act on qemu itself, goes
		// with -E, which splits its value at commas.
		for (auto e = vars.begin(); e != vars.end();) {
			if (e->rfind("LD_PRELOAD=", 0) != 0) {
				++e;
				continue;
			}
			EXPECT_EQ(e->find(','), std::string::npos)
			    << "qemu would split " << *e;
			argv.push_back("-E");
			argv.push_back(*e);
			e = vars.erase(e);
		}
	}
	argv.push_back(p.path);
	argv.insert(argv.end(), args.begin(), args.end());
	static int serial;
	std::string tag = std::to_string(getpid()) + "." + std::to_string(++serial);
	out_ = cwd + "/.stdout." + tag;
	err_ = cwd + "/.stderr." + tag;

	std::vector<char *> cargv;
	for (auto &a : argv)
		cargv.push_back(a.data());
	cargv.push_back(nullptr);

	pid_ = fork();
	if (pid_ == 0) {
		int in = open("/dev/null", O_RDONLY);
		int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
		int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
		if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) < 0)
			_exit(126);
		signal(SIGPIPE, SIG_DFL);	// ignored here, but not by users
		dup2(in, 0);
		dup2(out, 1);
		dup2(err, 2);
		close_range(3, ~0U, 0);	// the program's descriptors start at 3
		for (const auto &e : vars)
			putenv(strdup(e.c_str()));
		if (uid != (uid_t)-1 &&
		    (setgroups(0, nullptr) < 0 || setgid(uid) < 0 || setuid(uid) < 0))
			_exit(126);
		execvp(cargv[0], cargv.data());
		_exit(127);
	}
	EXPECT_GT(pid_, 0) << "fork: " << strerror(errno);
}

Launch::~Launch()
{
	if (pid_ > 0) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
	}
	unlink(out_.c_str());
	unlink(err_.c_str());
}

std::string
port21_listener()
{
	std::ifstream tcp("/proc/net/tcp");
	std::string line;

	// Lines read "sl local_address rem_address st queues timer retrnsmt uid
	// timeout inode": port 21 is 0015, LISTEN is 0A. A connect would take
	// the one accept, so never probe.
	while (std::getline(tcp, line)) {
		std::istringstream f(line);
		std::string w[10];
		for (auto &s : w)
			f >> s;
		if (w[1].size() > 5 && w[1].compare(w[1].size() - 5, 5, ":0015") == 0 &&
		    w[3] == "0A")
			return w[9];
	}
	return "";
}

bool
Launch::running() const
{
	siginfo_t info;

	info.si_pid = 0;
	return pid_ > 0 &&
	    waitid(P_PID, (id_t)pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
	    info.si_pid == 0;
}

bool
Launch::listening(double seconds)
{
	auto end = std::chrono::steady_clock::now() +
	    std::chrono::duration<double>(seconds);

	while (std::chrono::steady_clock::now() < end) {
		if (!port21_listener().empty())
			return true;
		if (!running())
			return !port21_listener().empty();
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	ADD_FAILURE() << "not listening on port 21 after " << seconds
	    << " s: killed";
	kill(pid_, SIGKILL);
	return false;
}

Outcome
Launch::wait(double seconds)
{
	Outcome o;
	int status = 0;
	auto end = std::chrono::steady_clock::now() +
	    std::chrono::duration<double>(seconds);

	while (waitpid(pid_, &status, WNOHANG) == 0) {
		if (std::chrono::steady_clock::now() > end) {
			ADD_FAILURE() << "program still running after " << seconds
			    << " s: killed";
			kill(pid_, SIGKILL);
			waitpid(pid_, &status, 0);
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	pid_ = -1;
	o.signaled = WIFSIGNALED(status);
	o.code = o.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
	o.out = read_file(out_);
	o.err = read_file(err_);
	return o;
}

std::string
receive(const Peer &peer)
{
	std::string got;
	struct sockaddr_in sa;
	int fd = socket(AF_INET, SOCK_STREAM, 0);

	if (peer.rcvbuf > 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &peer.rcvbuf,
		    sizeof(peer.rcvbuf));
	memset(&sa, 0, sizeof(sa));
	sa.sin_family = AF_INET;
	sa.sin_port = htons(21);
	sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (connect(fd, (struct sockaddr *)&sa, sizeof(sa)) < 0) {
		ADD_FAILURE() << "connect: " << strerror(errno);
		close(fd);
		return got;
	}
	std::vector<char> buf(peer.piece);
	bool held = false;
	while (got.size() < peer.stop_after) {
		size_t want = std::min(peer.piece, peer.stop_after - got.size());
		if (!held && got.size() < peer.hold_at)
			want = std::min(want, peer.hold_at - got.size());
		// No test sends 256 MiB: past that the stream has no end.
		struct pollfd ready = { fd, POLLIN, 0 };
		if (poll(&ready, 1, 10000) == 0 || got.size() > (256 << 20)) {
			ADD_FAILURE() << "receiver: " << got.size() << " bytes, then "
			    << (ready.revents ? "no end" : "no byte for 10 s");
			break;
		}
		ssize_t n = read(fd, buf.data(), want);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		got.append(buf.data(), (size_t)n);
		if (!held && got.size() >= peer.hold_at) {
			held = true;
			if (peer.at_hold)
				peer.at_hold();
		}
		if (peer.pause_us != 0)
			usleep(peer.pause_us);
	}
	close(fd);
	return got;
}

int
hold_port21()
{
	struct sockaddr_in sa;
	int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;

	// Still no second listener is allowed, but TIME_WAIT does not count.
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	memset(&sa, 0, sizeof(sa));
	sa.sin_family = AF_INET;
	sa.sin_port = htons(21);
	EXPECT_EQ(bind(fd, (struct sockaddr *)&sa, sizeof(sa)), 0) << strerror(errno);
	EXPECT_EQ(listen(fd, 1), 0);
	return fd;
}

std::string
le32(uint32_t v)
{
	std::string s(4, '\0');
	for (int i = 0; i < 4; i++)
		s[i] = (char)(v >> (8 * i) & 0xff);
	return s;
}

std::string
header_of(const std::string &name, uint32_t size)
{
	return le32((uint32_t)name.size() + 1) + name + std::string(1, '\0') +
	    le32(size);
}

std::string
stream_of(const std::string &name, const std::string &data)
{
	return header_of(name, (uint32_t)data.size()) + data;
}

std::string
pattern(size_t size, uint32_t seed)
{
	std::string s(size, '\0');
	uint32_t x = seed * 2654435761u + 1;

	for (auto &c : s) {
		x ^= x << 13;
		x ^= x >> 17;
		x ^= x << 5;
		c = (char)(x >> 24);
	}
	return s;
}

namespace {

// Random transfers for a bounded time, replayable by seed.
struct Soak {
	// Seed from QUILL_SOAK_SEED or the clock; time from QUILL_SOAK_SECONDS
	// or seconds. Prints the seed so that a failure can be replayed.
	explicit Soak(double seconds);
	bool more() const;	// time is left
	// A size from 0 to tens of MiB, often k * 4096 or k * 4096 +- 1.
	size_t size();
	// A receiver reading odd pieces, sometimes pausing, sometimes with a
	// small window; its pauses add up to little for size bytes.
	Peer peer(size_t size);

	uint32_t seed;
	std::mt19937 rng;
	std::chrono::steady_clock::time_point end;
};

}  // namespace

Soak::Soak(double seconds)
{
	const char *s = getenv("QUILL_SOAK_SEED");
	seed = s != nullptr ? (uint32_t)strtoul(s, nullptr, 10) :
	    (uint32_t)std::chrono::system_clock::now().time_since_epoch().count();
	rng.seed(seed);
	seconds = atof(env_or("QUILL_SOAK_SECONDS", std::to_string(seconds).c_str()));
	end = std::chrono::steady_clock::now() + std::chrono::duration_cast<
	    std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
	printf("soak seed %u for %.0f s (QUILL_SOAK_SEED=%u replays it)\n", seed,
	    seconds, seed);
	::testing::Test::RecordProperty("soak_seed", std::to_string(seed));
}

bool
Soak::more() const
{
	return std::chrono::steady_clock::now() < end;
}

size_t
Soak::size()
{
	auto upto = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng); };
	switch (upto(5)) {
	case 0: return upto(3);
	case 1: return upto(20000);
	case 2: return upto(40 << 20);
	default: {
		size_t k = upto(3) == 0 ? upto(8192) : upto(16);
		return k * 4096 + upto(2) - (k > 0 ? 1 : 0);
	}
	}
}

Peer
Soak::peer(size_t size)
{
	auto upto = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng); };
	Peer p;
	p.piece = upto(1) ? (1 + upto(70000)) | 1 : 1 + upto(5000);
	if (upto(2) == 0)
		p.rcvbuf = (int)(2048 + upto(62000));
	size_t reads = size / p.piece + 1;
	if (upto(2) == 0 && reads < 20000)
		p.pause_us = (unsigned)std::min<size_t>(upto(2000), 300000 / reads);
	return p;
}

std::string
read_file(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::ostringstream s;
	s << f.rdbuf();
	return s.str();
}

void
write_file(const std::string &path, const std::string &data)
{
	std::filesystem::create_directories(std::filesystem::path(path).parent_path());
	std::ofstream f(path, std::ios::binary | std::ios::trunc);
	f.write(data.data(), (std::streamsize)data.size());
	ASSERT_TRUE(f.good()) << path;
}

static void
enter_private_network()
{
	uid_t uid = geteuid();

	if (unshare(CLONE_NEWNET) < 0) {
		// Not root: a user namespace of our own gives the right.
		ASSERT_EQ(unshare(CLONE_NEWUSER | CLONE_NEWNET), 0) << strerror(errno);
		std::ofstream("/proc/self/setgroups") << "deny";
		std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
	}
	struct ifreq ifr;
	int fd = socket(AF_INET, SOCK_DGRAM, 0);
	memset(&ifr, 0, sizeof(ifr));
	strcpy(ifr.ifr_name, "lo");
	ASSERT_EQ(ioctl(fd, SIOCGIFFLAGS, &ifr), 0) << strerror(errno);
	ifr.ifr_flags |= IFF_UP;
	ASSERT_EQ(ioctl(fd, SIOCSIFFLAGS, &ifr), 0) << strerror(errno);
	close(fd);
}

void
E2E::SetUp()
{
	// A sender killed by SIGPIPE is a result; the tests must not die of it.
	signal(SIGPIPE, SIG_IGN);
	enter_private_network();
	char tmpl[] = "/tmp/quilltest.XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	chmod(tmpl, 0755);
	dir_ = tmpl;
}

void
E2E::make_unsendable()
{
	ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
	for (long long size : { (1LL << 31) - 1, 1LL << 31, 1LL << 32 }) {
		int fd = open(path("sparse" + std::to_string(size)).c_str(),
		    O_WRONLY | O_CREAT, 0644);
		ASSERT_EQ(ftruncate(fd, size), 0);
		close(fd);
	}
}

void
E2E::soak(double seconds, const Send &send,
    const std::function<std::string(size_t)> &transcript)
{
	Soak gen(seconds);
	int runs = 0;

	while (gen.more() && !HasFailure()) {
		size_t size = gen.size();
		Peer peer = gen.peer(size);
		SCOPED_TRACE("run " + std::to_string(runs) + ": " +
		    std::to_string(size) + " bytes, pieces of " +
		    std::to_string(peer.piece));
		std::string data = pattern(size, gen.seed + (uint32_t)runs);
		write_file(path("soak.bin"), data);
		std::string got;
		Outcome o = send({ "soak.bin" }, &got, peer);
		EXPECT_EQ(o.code, 0) << o.err;
		EXPECT_EQ(o.out, transcript(size));
		EXPECT_TRUE(got == stream_of("soak.bin", data)) << "stream differs";
		runs++;
	}
	printf("%d transfers\n", runs);
}

void
E2E::TearDown()
{
	std::error_code ec;
	if (!dir_.empty())
		std::filesystem::remove_all(dir_, ec);
}

}  // namespace quilltest
