// Drives the real programs over real sockets, each test in a network
// namespace of its own so that port 21 is free and nothing leaks out.
#ifndef QUILL_HARNESS_H
#define QUILL_HARNESS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quilltest {

// A program under test: its binary and what starts it (an emulator, Wine).
struct Program {
	std::string path;
	std::vector<std::string> runner;
	bool guest_env = false;	// runner is qemu: LD_PRELOAD goes with -E
	bool wine = false;

	bool found() const { return !path.empty(); }
};

// The program named by environment variable var, or else built (which may
// be null); runner_var names its runner, if any. Empty when neither is set.
Program program_from_env(const char *var, const char *runner_var,
    const char *built = nullptr);

// Environment variable var, or else fallback.
const char *env_or(const char *var, const char *fallback);

// Where the test's own build put its programs, when it made them.
#ifndef QUILL_BUILT_NIX
#define QUILL_BUILT_NIX nullptr
#define QUILL_BUILT_FAULTS nullptr
#define QUILL_BUILT_RECV nullptr
#endif

// The fault library: QUILL_FAULTS_LIB, else the one this build made; null
// when there is none (QUILL_FAULTS_LIB empty, as for a static program).
inline const char *
fault_library()
{
	const char *lib = env_or("QUILL_FAULTS_LIB", QUILL_BUILT_FAULTS);
	return lib != nullptr && *lib != '\0' ? lib : nullptr;
}

// The environment that preloads fault library lib into a program and asks
// it for faults (see faults/faults.h); none when faults is empty.
std::vector<std::string> with_faults(const char *lib, const std::string &faults);

struct Outcome {
	bool signaled = false;
	int code = -1;		// exit status, or the signal's number
	std::string out, err;
};

// A started program. Its standard output and error go to files, so that a
// program that never flushes is read whole after it ends.
class Launch {
public:
	Launch(const Program &p, const std::vector<std::string> &args,
	    const std::string &cwd, const std::vector<std::string> &env = {},
	    uid_t uid = (uid_t)-1);
	~Launch();
	// True while the program has not ended.
	bool running() const;
	// True once port 21 listens; false when the program ended first. Past
	// the time it fails the test and kills the program.
	bool listening(double seconds = 10);
	// Waits for the end; kills the program and fails the test past the time.
	Outcome wait(double seconds = 20);
	pid_t pid() const { return pid_; }

private:
	pid_t pid_ = -1;
	std::string out_, err_;
};

// The inode of the socket listening on port 21, or "" when none is: a new
// listener has another.
std::string port21_listener();

// How the stand-in receiver behaves.
struct Peer {
	int rcvbuf = 0;			// SO_RCVBUF before connecting; 0 leaves it
	size_t piece = 1 << 16;		// bytes asked for per read
	unsigned pause_us = 0;		// sleep after every read
	size_t stop_after = SIZE_MAX;	// close after this many bytes
	size_t hold_at = SIZE_MAX;	// call at_hold once this many arrived
	std::function<void()> at_hold;
};

// Connects to 127.0.0.1 port 21 and reads until the sender closes (or
// peer.stop_after); returns every byte received. A sender that sends
// nothing for 10 s, or more than 256 MiB, fails the test.
std::string receive(const Peer &peer = Peer());

// Listens on port 21 so that a sender cannot; returns the socket.
int hold_port21();

// v as the 4 bytes of a little-endian integer field.
std::string le32(uint32_t v);

// The header a sender must write for name and a file of size bytes, and
// the whole stream for name and data, built independently of the programs'
// own encoder.
std::string header_of(const std::string &name, uint32_t size);
std::string stream_of(const std::string &name, const std::string &data);

// size bytes that differ from run to run of seed and are unlike a shifted copy.
std::string pattern(size_t size, uint32_t seed = 1);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);

// Base of the end-to-end tests: a fresh network namespace with loopback up
// and a scratch folder (dir_) that any user may read, removed afterwards.
class E2E : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;
	std::string path(const std::string &name) const { return dir_ + "/" + name; }
	// Makes "folder", which no sender may send, and sparse files at the
	// size field's limit: "sparse2147483647", the largest that fits, and
	// "sparse2147483648" and "sparse4294967296", too large for it.
	void make_unsendable();

	// Sends soak.bin of random sizes to random receivers until the time is
	// up or a run fails: send(args, got, peer) runs the sender, and
	// transcript(size) is what it must print. QUILL_SOAK_SECONDS changes
	// the time; QUILL_SOAK_SEED replays the printed seed.
	using Send = std::function<Outcome(const std::vector<std::string> &,
	    std::string *, const Peer &)>;
	void soak(double seconds, const Send &send,
	    const std::function<std::string(size_t)> &transcript);

	std::string dir_;
};

}  // namespace quilltest

#endif
