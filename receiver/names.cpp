#include <stdint.h>
#include <string.h>

#include "names.h"

/*
 * The UTF-8 character that starts at s[i], within s[0..len): sets *c to
 * its code point and returns its length in bytes, 1 to 4; returns 0 when
 * the bytes there are not UTF-8 (a stray or cut sequence, an overlong
 * form, a surrogate, beyond U+10FFFF).
 */
/*@
  requires i < len && \valid_read(s + (0 .. len - 1));
  requires \valid(c) && \separated(c, s + (0 .. len - 1));
  assigns *c;
  ensures 0 <= \result <= 4 && i + \result <= len;
  ensures \result == 1 ==> *c == (unsigned char)s[i];
  ensures \result >= 2 ==> *c >= 0x80;
  ensures \result >= 2 ==> \forall integer j; 0 <= j < \result ==>
    (unsigned char)s[i + j] >= 0x80;
  ensures \result >= 3 ==> *c >= 0x800;
*/
static size_t
utf8_at(const char *s, size_t i, size_t len, uint32_t *c)
{
	unsigned char b = (unsigned char)s[i], t;
	uint32_t v;
	size_t n, k;

	if (b < 0x80) {
		*c = b;
		return 1;
	}
	n = b < 0xc0 ? 0 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : b < 0xf8 ? 4 : 0;
	if (n == 0 || n > len - i)
		return 0;
	v = b - (n == 2 ? 0xc0u : n == 3 ? 0xe0u : 0xf0u);
	/*@
	  loop invariant 1 <= k <= n && i + n <= len;
	  loop invariant \forall integer j; 1 <= j < k ==>
	    (unsigned char)s[i + j] >= 0x80;
	  loop assigns k, t, v;
	  loop variant n - k;
	*/
	for (k = 1; k < n; k++) {
		if ((t = (unsigned char)s[i + k]) < 0x80 || t >= 0xc0)
			return 0;
		v = v * 64 + (t - 0x80u);
	}
	if (v < (n == 2 ? 0x80u : n == 3 ? 0x800u : 0x10000u) ||
	    (v >= 0xd800 && v <= 0xdfff) || v > 0x10ffff)
		return 0;
	*c = v;
	return n;
}

/* Writes b as \xHH at out[o .. o + 3]. */
/*@
  requires o + 4 <= SIZE_MAX && \valid(out + (o .. o + 3));
  assigns out[o .. o + 3];
  ensures \forall integer j; o <= j < o + 4 ==> quill_printable(out[j]);
*/
static void
put_hex(char *out, size_t o, unsigned char b)
{
	out[o] = '\\';
	out[o + 1] = 'x';
	out[o + 2] = (char)(b / 16 < 10 ? '0' + b / 16 : 'a' + b / 16 - 10);
	out[o + 3] = (char)(b % 16 < 10 ? '0' + b % 16 : 'a' + b % 16 - 10);
}

/* Copies from[0 .. n - 1], which a terminal shows, to out[o ..]. */
/*@
  requires o + n <= SIZE_MAX && \valid(out + (o .. o + n - 1));
  requires \valid_read(from + (0 .. n - 1));
  requires \separated(out + (o .. o + n - 1), from + (0 .. n - 1));
  requires \forall integer j; 0 <= j < n ==> quill_printable(from[j]);
  assigns out[o .. o + n - 1];
  ensures \forall integer j; o <= j < o + n ==> quill_printable(out[j]);
*/
static void
put_raw(char *out, size_t o, const char *from, size_t n)
{
	size_t k;

	/*@
	  loop invariant 0 <= k <= n;
	  loop invariant \forall integer j; o <= j < o + k ==>
	    quill_printable(out[j]);
	  loop assigns k, out[o .. o + n - 1];
	  loop variant n - k;
	*/
	for (k = 0; k < n; k++)
		out[o + k] = from[k];
}

size_t
quill_escape(char *out, size_t size, const char *s)
{
	size_t len = strlen(s), i = 0, o = 0, n, w;
	uint32_t c = 0;
	int raw;

	/*@
	  loop invariant 0 <= i <= len && 0 <= o < size && o <= 4 * i;
	  loop invariant \forall integer j; 0 <= j < o ==>
	    quill_printable(out[j]);
	  loop assigns i, o, n, w, c, raw, out[0 .. size - 2];
	  loop variant len - i;
	*/
	while (i < len) {
		n = utf8_at(s, i, len, &c);
		raw = n == 0 || c < 0x20 || (c >= 0x7f && c < 0xa0);
		if (n == 0)
			n = 1;	/* one byte, escaped */
		/* What it takes in out; a character goes whole or not at all. */
		w = raw ? 4 * n : c == '\\' ? 2 : n;
		if (w >= size - o)
			break;
		/*@ assert o + w < size; */
		if (raw) {
			/* Only a one- or two-byte sequence is a control. */
			/*@ assert n <= 2; */
			put_hex(out, o, (unsigned char)s[i]);
			if (n == 2)
				put_hex(out, o + 4, (unsigned char)s[i + 1]);
			/*@ assert \forall integer j; 0 <= j < o + 4 * n ==>
			      quill_printable(out[j]); */
		} else if (c == '\\') {
			out[o] = '\\';
			out[o + 1] = '\\';
		} else {
			/*@ assert n == 1 ==> \forall integer j; 0 <= j < n ==>
			      quill_printable(s[i + j]); */
			/*@ assert n >= 2 ==> \forall integer j; 0 <= j < n ==>
			      quill_printable(s[i + j]); */
			put_raw(out, o, s + i, n);
		}
		o += w;
		i += n;
	}
	out[o] = '\0';
	return i;
}

const char *
quill_base_name(const char *name, const char **why)
{
	size_t len = strlen(name), b = 0, i;

	/*@
	  loop invariant 0 <= b <= i <= len;
	  loop invariant \forall integer j; b <= j < i ==>
	    name[j] != '/' && name[j] != '\\';
	  loop assigns i, b;
	  loop variant len - i;
	*/
	for (i = 0; i < len; i++)
		if (name[i] == '/' || name[i] == '\\')
			b = i + 1;
	*why = "names no file";
	if (b == len || (name[b] == '.' && (b + 1 == len ||
	    (name[b + 1] == '.' && b + 2 == len))))
		return NULL;
	*why = "holds a control character";
	/*@
	  loop invariant b <= i <= len;
	  loop invariant \forall integer j; b <= j < i ==>
	    quill_printable(name[j]);
	  loop assigns i;
	  loop variant len - i;
	*/
	for (i = b; i < len; i++)
		if ((unsigned char)name[i] < 0x20 || (unsigned char)name[i] == 0x7f)
			return NULL;
	return name + b;
}
