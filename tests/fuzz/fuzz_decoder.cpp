// Fuzz target for the stream decoder. The first byte picks the size of the
// pieces the rest is fed in; the result must not depend on it, and the
// decoder must keep its promises whatever the bytes.
#include <stdint.h>
#include <string.h>

#include <string>

#include "decoder.h"

namespace {

struct Result {
	std::string data;
	const char *error;
	enum quill_stage stage;
};

Result
decode(const uint8_t *p, size_t len, size_t piece)
{
	struct quill_decoder d;
	Result r;

	quill_decoder_init(&d);
	for (size_t at = 0; at < len && d.stage != QUILL_FAILED;) {
		size_t n = len - at < piece ? len - at : piece;
		const unsigned char *data = nullptr;
		size_t datalen = 0;
		size_t k = quill_decoder_feed(&d, p + at, n, &data, &datalen);
		if (k > n || (k == 0 && d.stage != QUILL_FAILED))
			__builtin_trap();	// took too much, or stalled
		if (datalen != 0 && (datalen > k || data != p + at))
			__builtin_trap();	// data outside what was taken
		r.data.append((const char *)data, datalen);
		at += k;
	}
	r.error = quill_decoder_finish(&d);
	r.stage = d.stage;
	if (d.stage == QUILL_DATA) {
		if (d.namelen < 1 || d.namelen > QUILL_MAX_PATH ||
		    strlen(d.name) + 1 != d.kept ||
		    (!d.cut && d.kept != (size_t)d.namelen) || d.size < 0 ||
		    d.received > d.size || (int64_t)r.data.size() != d.received)
			__builtin_trap();	// accepted a header it must refuse
		if (r.error == nullptr && d.received != d.size)
			__builtin_trap();	// called a short stream whole
	}
	return r;
}

}  // namespace

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *buf, size_t len)
{
	if (len == 0)
		return 0;
	size_t piece = (size_t)buf[0] % 19 + 1;
	Result whole = decode(buf + 1, len - 1, len);
	Result split = decode(buf + 1, len - 1, piece);
	if (whole.data != split.data || whole.stage != split.stage ||
	    (whole.error == nullptr) != (split.error == nullptr) ||
	    (whole.error != nullptr && strcmp(whole.error, split.error) != 0))
		__builtin_trap();	// the split changed the outcome
	return 0;
}
