// The stream's field encoding, the listening address and the decoder,
// against byte arrays.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Every header of what a device copies, as a C++ program includes it.
#include "decoder.h"
#include "fields.h"
#include "names.h"
#include "quill_limits.h"
#include "receive.h"
#include "service.h"

namespace {

TEST(Fields, LittleEndianBothWays)
{
	struct {
		int32_t v;
		unsigned char b[4];
	} cases[] = {
		{ 0, { 0, 0, 0, 0 } },
		{ 5, { 5, 0, 0, 0 } },
		{ 0x01020304, { 4, 3, 2, 1 } },
		{ -1, { 0xff, 0xff, 0xff, 0xff } },
		{ INT32_MAX, { 0xff, 0xff, 0xff, 0x7f } },
		{ INT32_MIN, { 0, 0, 0, 0x80 } },
		{ -4096, { 0x00, 0xf0, 0xff, 0xff } },
	};
	for (const auto &c : cases) {
		unsigned char out[4];
		quill_put_i32le(out, c.v);
		EXPECT_EQ(memcmp(out, c.b, 4), 0) << c.v;
		EXPECT_EQ(quill_get_i32le(c.b), c.v);
	}
}

TEST(Service, AllAddressesPort21ZeroPadded)
{
	struct sockaddr_in s;
	memset(&s, 0xaa, sizeof(s));
	quill_fill_service(&s);
	const unsigned char *b = (const unsigned char *)&s;
	EXPECT_EQ(sizeof(s), 16u);
	EXPECT_EQ(s.sin_family, AF_INET);
	EXPECT_EQ(b[2], 0);	// port, network order
	EXPECT_EQ(b[3], 21);
	for (size_t i = 4; i < sizeof(s); i++)
		EXPECT_EQ(b[i], 0) << "byte " << i;
}

std::string
le32(int32_t v)
{
	unsigned char b[4];
	quill_put_i32le(b, v);
	return std::string((char *)b, 4);
}

struct Decoded {
	std::string name, data;
	int32_t size = -1;
	const char *error = nullptr;	// from finish, or from feed
};

// Feeds s in pieces of `piece` bytes, then finishes.
Decoded
decode(const std::string &s, size_t piece)
{
	struct quill_decoder d;
	Decoded r;
	quill_decoder_init(&d);
	for (size_t at = 0; at < s.size() && d.stage != QUILL_FAILED;) {
		size_t n = std::min(piece, s.size() - at);
		const unsigned char *data;
		size_t datalen;
		size_t k = quill_decoder_feed(&d, (const unsigned char *)s.data() + at,
		    n, &data, &datalen);
		r.data.append((const char *)data, datalen);
		EXPECT_TRUE(k > 0 || d.stage == QUILL_FAILED);
		EXPECT_LE(k, n);
		at += k;
	}
	r.error = quill_decoder_finish(&d);
	if (d.stage >= QUILL_SIZE && d.stage != QUILL_FAILED)
		r.name = d.name;
	if (d.stage == QUILL_DATA)
		r.size = d.size;
	return r;
}

TEST(Decoder, WorkedExampleInEverySplit)
{
	const std::string s("\x04\0\0\0" "abc\0" "\x05\0\0\0" "hello", 17);
	for (size_t piece = 1; piece <= s.size(); piece++) {
		Decoded r = decode(s, piece);
		EXPECT_EQ(r.error, nullptr) << piece;
		EXPECT_EQ(r.name, "abc");
		EXPECT_EQ(r.size, 5);
		EXPECT_EQ(r.data, "hello");
	}
}

TEST(Decoder, EmptyFileAndLongestName)
{
	Decoded r = decode(le32(2) + std::string("e\0", 2) + le32(0), 3);
	EXPECT_EQ(r.error, nullptr);
	EXPECT_EQ(r.size, 0);
	std::string name(4095, 'n');
	name[1] = '/';		// a path, and still kept whole
	r = decode(le32(4096) + name + std::string(1, '\0') + le32(1) + "z", 1000);
	EXPECT_EQ(r.error, nullptr);
	EXPECT_EQ(r.name, name);
	EXPECT_EQ(r.data, "z");
}

TEST(Decoder, RefusesHostileAndBrokenStreams)
{
	const std::string z(1, '\0');
	struct {
		const char *what;
		std::string stream;
		std::string error;
	} cases[] = {
		{ "nothing", "", "stream ended inside the header" },
		{ "half a length", std::string("\x04\0", 2), "stream ended inside the header" },
		{ "name length 0", le32(0), "name length out of range" },
		{ "name length -1", le32(-1), "name length out of range" },
		{ "name length 4097", le32(4097), "name length out of range" },
		{ "huge name length", le32(INT32_MAX), "name length out of range" },
		{ "no final zero", le32(3) + "abc" + le32(0), "name without its final zero" },
		{ "zero inside", le32(4) + std::string("a\0c\0", 4) + le32(0),
		  "name with a zero inside" },
		{ "negative size", le32(2) + "a" + z + le32(-5), "negative file size" },
		{ "short name", le32(4) + "ab", "stream ended inside the header" },
		{ "no size", le32(2) + "a" + z, "stream ended inside the header" },
		{ "short data", le32(2) + "a" + z + le32(5) + "1234",
		  "stream ended before all data arrived" },
		{ "extra data", le32(2) + "a" + z + le32(5) + "123456",
		  "more data than announced" },
		{ "data after empty file", le32(2) + "a" + z + le32(0) + "x",
		  "more data than announced" },
	};
	for (const auto &c : cases)
		for (size_t piece : { (size_t)1, (size_t)4096 }) {
			Decoded r = decode(c.stream, piece);
			ASSERT_NE(r.error, nullptr) << c.what;
			EXPECT_EQ(std::string(r.error), c.error) << c.what << ", " << piece;
			EXPECT_LE(r.data.size(), 5u);
		}
}

// The connection may deliver nothing more after the last data byte: an
// empty piece then is no extra data.
TEST(Decoder, EmptyPieceAfterTheLastByte)
{
	struct quill_decoder d;
	const unsigned char *data;
	size_t datalen;
	std::string s = le32(2) + std::string("a\0", 2) + le32(3) + "xyz";
	quill_decoder_init(&d);
	for (size_t at = 0; at < s.size() && d.stage != QUILL_FAILED;)
		at += quill_decoder_feed(&d, (const unsigned char *)s.data() + at,
		    s.size() - at, &data, &datalen);
	EXPECT_EQ(d.received, 3);
	EXPECT_EQ(quill_decoder_feed(&d, (const unsigned char *)s.data() + s.size(),
	    0, &data, &datalen), 0u);
	EXPECT_EQ(datalen, 0u);
	EXPECT_EQ(d.stage, QUILL_DATA);
	EXPECT_EQ(quill_decoder_finish(&d), nullptr);
}

TEST(Decoder, TakesNothingAfterFailing)
{
	struct quill_decoder d;
	const unsigned char *data;
	size_t datalen;
	std::string bad = le32(0) + "more";
	quill_decoder_init(&d);
	EXPECT_EQ(quill_decoder_feed(&d, (const unsigned char *)bad.data(),
	    bad.size(), &data, &datalen), 0u);
	EXPECT_EQ(d.stage, QUILL_FAILED);
	EXPECT_EQ(quill_decoder_feed(&d, (const unsigned char *)bad.data() + 4,
	    4, &data, &datalen), 0u);
	EXPECT_EQ(datalen, 0u);
}

}  // namespace
