/*
 * Every 32-bit value through the field encoding and back: the bytes that
 * quill_put_i32le writes are the value's, least significant first, and
 * quill_get_i32le reads the value back from them. Plain C, so that it runs
 * wherever the fields are built. Exits 1 at the first value that fails.
 * With "spread" (for emulators, where all take minutes), what byte order
 * tells apart: every value made of the bytes 00, 01, 7f, 80, fe and ff,
 * and every 4099th value (an odd step: each byte takes all its values).
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "fields.h"

int
main(int argc, char *argv[])
{
	static const uint32_t edge[] = { 0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff };
	unsigned char b[QUILL_FIELD];
	uint32_t u = 0, i = 0, n = 0;
	int32_t v;
	int k;

	if (argc > 1 && strcmp(argv[1], "spread") == 0)
		n = 1296 + UINT32_MAX / 4099;	/* 6^4 of the edge bytes */
	do {
		if (n > 0)
			u = i < 1296 ? edge[i % 6] | edge[i / 6 % 6] << 8 |
			    edge[i / 36 % 6] << 16 | edge[i / 216] << 24 :
			    (i - 1296) * 4099;
		/* The value of bit pattern u, by arithmetic. */
		v = u <= INT32_MAX ? (int32_t)u :
		    (int32_t)(u - 0x80000000u) - INT32_MAX - 1;
		quill_put_i32le(b, v);
		for (k = 0; k < QUILL_FIELD; k++)
			if (b[k] != (u >> (8 * k) & 0xff)) {
				printf("%ld: byte %d is %02x\n", (long)v, k, b[k]);
				return 1;
			}
		if (quill_get_i32le(b) != v) {
			printf("%ld: read back as %ld\n", (long)v,
			    (long)quill_get_i32le(b));
			return 1;
		}
	} while (n > 0 ? ++i < n : ++u != 0);
	printf("%s values round trip\n", n > 0 ? "the spread's" :
	    "all 4294967296");
	return 0;
}
