#include <stdint.h>
#include <string.h>

#include "names.h"

/*
 * Returns the length in bytes, 1 to 4, of the UTF-8 character that starts
 * at s[i] and ends within s[0..len), or 0 when the bytes there are not
 * UTF-8 (a stray or cut sequence, an overlong form, a surrogate, beyond
 * U+10FFFF).
 */
/*@
  requires i < len && \valid_read(s + (0 .. len - 1));
  assigns \nothing;
  ensures 0 <= \result <= 4 && i + \result <= len;
  ensures \result != 0 ==> quill_utf8((char *)s, i, \result);
  ensures \result == 0 ==> \forall integer m; 1 <= m <= len - i ==>
    !quill_utf8((char *)s, i, m);
*/
static size_t
utf8_at(const char *s, size_t i, size_t len)
{
	unsigned char b = (unsigned char)s[i], t;
	size_t n, k;

	if (b < 0x80)
		return 1;
	n = b < 0xc2 ? 0 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : b < 0xf5 ? 4 : 0;
	if (n == 0 || n > len - i)
		return 0;
	/* The second byte's range keeps out overlong forms, surrogates and
	 * code points beyond U+10FFFF. */
	t = (unsigned char)s[i + 1];
	if (t < (b == 0xe0 ? 0xa0 : b == 0xf0 ? 0x90 : 0x80) ||
	    t > (b == 0xed ? 0x9f : b == 0xf4 ? 0x8f : 0xbf))
		return 0;
	/*@
	  loop invariant 2 <= k <= n;
	  loop invariant \forall integer j; 2 <= j < k ==>
	    quill_tail(s[i + j]);
	  loop assigns k, t;
	  loop variant n - k;
	*/
	for (k = 2; k < n; k++)
		if ((t = (unsigned char)s[i + k]) < 0x80 || t > 0xbf)
			return 0;
	return n;
}

/* Writes b as \xHH at out[o .. o + 3]. */
/*@
  requires o + 4 <= SIZE_MAX && \valid(out + (o .. o + 3));
  assigns out[o .. o + 3];
  ensures \forall integer j; o <= j < o + 4 ==>
    0x20 <= (unsigned char)out[j] <= 0x7e;
*/
static void
put_hex(char *out, size_t o, unsigned char b)
{
	out[o] = '\\';
	out[o + 1] = 'x';
	out[o + 2] = (char)(b / 16 < 10 ? '0' + b / 16 : 'a' + b / 16 - 10);
	out[o + 3] = (char)(b % 16 < 10 ? '0' + b % 16 : 'a' + b % 16 - 10);
}

/* Copies from[0 .. n - 1] to out[o ..]. */
/*@
  requires o + n <= SIZE_MAX && \valid(out + (o .. o + n - 1));
  requires \valid_read(from + (0 .. n - 1));
  requires \separated(out + (o .. o + n - 1), from + (0 .. n - 1));
  assigns out[o .. o + n - 1];
  ensures \forall integer j; o <= j < o + n ==> out[j] == from[j - o];
*/
static void
put_raw(char *out, size_t o, const char *from, size_t n)
{
	size_t k;

	/*@
	  loop invariant 0 <= k <= n;
	  loop invariant \forall integer j; 0 <= j < k ==>
	    out[o + j] == from[j];
	  loop assigns k, out[o .. o + n - 1];
	  loop variant n - k;
	*/
	for (k = 0; k < n; k++)
		out[o + k] = from[k];
}

/*@ ghost
  // Proof steps for the escape's loop, each proven in a context of its
  // own, where the loop's would swamp the provers.

  // Printable ASCII bytes at s[o .. o + w - 1] are each shown.
  /@
    requires \forall integer j; o <= j < o + w ==>
      0x20 <= (unsigned char)s[j] <= 0x7e;
    assigns \nothing;
    ensures \forall integer j; o <= j < o + w ==> quill_at(s, j, o + w);
  @/
  static void quill_ascii(char *s, size_t o, size_t w) {}

  // The w bytes of a character shown at s[o] are each shown.
  /@
    requires 1 <= w <= 4;
    requires quill_at(s, o, o + w);
    requires w >= 2 ==> quill_at(s, o + 1, o + w);
    requires w >= 3 ==> quill_at(s, o + 2, o + w);
    requires w >= 4 ==> quill_at(s, o + 3, o + w);
    assigns \nothing;
    ensures \forall integer j; o <= j < o + w ==> quill_at(s, j, o + w);
  @/
  static void quill_spread(char *s, size_t o, size_t w) {}

  // What is shown before s[o] and from it, together.
  /@
    requires \forall integer j; 0 <= j < o ==> quill_at(s, j, o + w);
    requires \forall integer j; o <= j < o + w ==> quill_at(s, j, o + w);
    assigns \nothing;
    ensures quill_shown(s, o + w);
  @/
  static void quill_join(char *s, size_t o, size_t w) {}
*/

size_t
quill_escape(char *out, size_t size, const char *s)
{
	size_t len = strlen(s), i = 0, o = 0, n, w;
	unsigned char b;
	int raw;

	/*@
	  loop invariant 0 <= i <= len && 0 <= o < size && o <= 4 * i;
	  loop invariant quill_shown(out, o);
	  loop assigns i, o, n, w, b, raw, out[0 .. size - 2];
	  loop variant len - i;
	*/
	while (i < len) {
		n = utf8_at(s, i, len);
		b = (unsigned char)s[i];
		/* C0 controls and DEL are one byte, C1 controls c2 80 .. c2 9f. */
		raw = n == 0 || (n == 1 && (b < 0x20 || b == 0x7f)) ||
		    (n == 2 && b == 0xc2 && (unsigned char)s[i + 1] < 0xa0);
		if (n == 0)
			n = 1;	/* one byte, escaped */
		/* What it takes in out; a character goes whole or not at all. */
		w = raw ? 4 * n : b == '\\' ? 2 : n;
		if (w >= size - o)
			break;
		/*@ assert o + w < size; */
		/*
		 * Each way, the assertions carry what out[0 .. o - 1] showed
		 * past the write, and the ghost calls add what it wrote.
		 */
		if (raw) {
			put_hex(out, o, b);
			if (n == 2)
				put_hex(out, o + 4, (unsigned char)s[i + 1]);
			/*@ assert \forall integer j; 0 <= j < o ==>
			      out[j] == \at(out[j], LoopCurrent); */
			/*@ assert \forall integer j; 0 <= j < o ==>
			      \at(quill_at(out, j, o), LoopCurrent) ==>
			      quill_at(out, j, o + w); */
			/*@ ghost quill_ascii(out, o, w); */
			/*@ ghost quill_join(out, o, w); */
		} else if (b == '\\') {
			out[o] = '\\';
			out[o + 1] = '\\';
			/*@ assert \forall integer j; 0 <= j < o ==>
			      out[j] == \at(out[j], LoopCurrent); */
			/*@ assert \forall integer p; 0 <= p < o ==>
			      \at(quill_char(out, p, o), LoopCurrent) ==>
			      quill_char(out, p, o + w); */
			/*@ assert \forall integer j; 0 <= j < o ==>
			      \at(quill_at(out, j, o), LoopCurrent) ==>
			      quill_at(out, j, o + w); */
			/*@ assert out[o] == '\\' && out[o + 1] == '\\'; */
			/*@ ghost quill_ascii(out, o, w); */
			/*@ ghost quill_join(out, o, w); */
		} else {
			/*@ assert quill_char((char *)s, i, i + n); */
			put_raw(out, o, s + i, n);
			/*@ assert out[o] == s[i] &&
			      (n >= 2 ==> out[o + 1] == s[i + 1]) &&
			      (n >= 3 ==> out[o + 2] == s[i + 2]) &&
			      (n >= 4 ==> out[o + 3] == s[i + 3]); */
			/*@ assert quill_char((char *)s, i, i + n); */
			/*@ assert quill_width(out[o]) == w &&
			      quill_char(out, o, o + w); */
			/*@ assert quill_at(out, o, o + w) &&
			      (w >= 2 ==> quill_at(out, o + 1, o + w)) &&
			      (w >= 3 ==> quill_at(out, o + 2, o + w)) &&
			      (w >= 4 ==> quill_at(out, o + 3, o + w)); */
			/*@ assert \forall integer j; 0 <= j < o ==>
			      out[j] == \at(out[j], LoopCurrent); */
			/*@ assert \forall integer j; 0 <= j < o ==>
			      \at(quill_at(out, j, o), LoopCurrent) ==>
			      quill_at(out, j, o + w); */
			/*@ ghost quill_spread(out, o, w); */
			/*@ ghost quill_join(out, o, w); */
		}
		/*@ assert quill_shown(out, o + w); */
		o += w;
		i += n;
	}
	/*@ ghost done: ; */	/* what the loop left, for the proof */
	out[o] = '\0';
	/*@ assert end: \forall integer j; 0 <= j < o ==>
	      \at(quill_at(out, j, o), done) ==> quill_at(out, j, o); */
	return i;
}

int
quill_charset(const char *name, int codepage)
{
	size_t len = strlen(name), i, n;

	if (!QUILL_LEAD(codepage, 0x81))	/* no double-byte characters */
		return 0;
	/*@
	  loop invariant 0 <= i <= len;
	  loop invariant \forall integer j; 0 <= j < i ==>
	    quill_utf8_at((char *)name, j, len) ||
	    (quill_width(name[j - 1]) >= 2 &&
	      quill_utf8_at((char *)name, j - 1, len)) ||
	    (quill_width(name[j - 2]) >= 3 &&
	      quill_utf8_at((char *)name, j - 2, len)) ||
	    (quill_width(name[j - 3]) >= 4 &&
	      quill_utf8_at((char *)name, j - 3, len));
	  loop assigns i, n;
	  loop variant len - i;
	*/
	for (i = 0; i < len; i += n) {
		if ((n = utf8_at(name, i, len)) == 0)
			return codepage;
		/*@ assert quill_utf8_at((char *)name, i, len) &&
		      n == quill_width(name[i]); */
	}
	return 0;
}

/*@ ghost
  // What follows a separator, read on its own, is read as in the whole:
  // a separator is no lead byte, so the reading starts afresh after it.
  /@
    requires b <= n;
    requires b == 0 || s[b - 1] == '/' || s[b - 1] == '\\';
    requires \forall integer j; b <= j < n ==> !quill_sep(s, cs, j);
    assigns \nothing;
    ensures \forall integer j; 0 <= j < n - b ==> !quill_sep(s + b, cs, j);
  @/
  static void quill_afresh(char *s, int cs, size_t b, size_t n) {
    size_t i;
    /@
      loop invariant b <= i <= n;
      loop invariant quill_trail(s + b, cs, i - b) <==> quill_trail(s, cs, i);
      loop invariant \forall integer j; 0 <= j < i - b ==>
        !quill_sep(s + b, cs, j);
      loop assigns i;
      loop variant n - i;
    @/
    for (i = b; i < n; i++)
      ;
  }
*/

const char *
quill_base_name(const char *name, int charset, const char **why)
{
	size_t len = strlen(name), b = 0, i;
	int trail = 0;

	/*
	 * A second byte 0x5c is no separator; a '/' always is, being no code
	 * page's second byte: so UTF-8 folders go whatever bytes precede it.
	 */
	/*@
	  loop invariant 0 <= b <= i <= len;
	  loop invariant trail != 0 <==> quill_trail((char *)name, charset, i);
	  loop invariant \forall integer j; b <= j < i ==>
	    !quill_sep((char *)name, charset, j);
	  loop invariant b == 0 || quill_sep((char *)name, charset, b - 1);
	  loop assigns i, b, trail;
	  loop variant len - i;
	*/
	for (i = 0; i < len; i++) {
		if (name[i] == '/' || (!trail && name[i] == '\\'))
			b = i + 1;
		trail = !trail && QUILL_LEAD(charset, (unsigned char)name[i]);
	}
	/*@ ghost quill_afresh((char *)name, charset, b, len); */
	/*@ assert strlen(name + b) == len - b; */
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
