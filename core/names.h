/*
 * What a receiver makes of the name a sender gives, which is hostile until
 * checked: the form shown on a terminal, and the base name a file is saved
 * under. C99 and C++ alike; the contracts (ACSL, in the comments that open
 * with an @) are proven by Frama-C's WP (scripts/prove) for every string.
 */
#ifndef QUILL_NAMES_H
#define QUILL_NAMES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/*@
  // A byte that a terminal shows rather than acts on: no C0 control, no DEL.
  predicate quill_printable(char x) =
    (unsigned char)x >= 0x20 && (unsigned char)x != 0x7f;

  // UTF-8 (RFC 3629): how many bytes the character that x starts takes,
  // 1 to 4, or 0 when x starts none (a continuation byte, c0, c1, f5..ff).
  logic integer quill_width(char x) =
    (unsigned char)x < 0x80 ? 1 : (unsigned char)x < 0xc2 ? 0 :
    (unsigned char)x < 0xe0 ? 2 : (unsigned char)x < 0xf0 ? 3 :
    (unsigned char)x < 0xf5 ? 4 : 0;

  // A continuation byte, 80..bf.
  predicate quill_tail(char x) =
    0x80 <= (unsigned char)x <= 0xbf;

  // The second byte y after lead byte x: narrower than 80..bf after e0
  // (overlong), ed (surrogates), f0 (overlong) and f4 (beyond U+10FFFF).
  predicate quill_second(char x, char y) =
    ((unsigned char)x == 0xe0 ? 0xa0 : (unsigned char)x == 0xf0 ? 0x90 :
     0x80) <= (unsigned char)y &&
    (unsigned char)y <= ((unsigned char)x == 0xed ? 0x9f :
     (unsigned char)x == 0xf4 ? 0x8f : 0xbf);

  // s[p .. p + m - 1] is one UTF-8 character, of any code point.
  predicate quill_utf8{L}(char *s, integer p, integer m) =
    1 <= m && m == quill_width(s[p]) &&
    (m >= 2 ==> quill_second(s[p], s[p + 1])) &&
    (m >= 3 ==> quill_tail(s[p + 2])) &&
    (m >= 4 ==> quill_tail(s[p + 3]));

  // A character a terminal shows starts at s[p] and ends before s[n]: no
  // C0 control, DEL or C1 control (U+0080..U+009F, c2 80..c2 9f).
  predicate quill_char{L}(char *s, integer p, integer n) =
    p + quill_width(s[p]) <= n && quill_utf8(s, p, quill_width(s[p])) &&
    (quill_width(s[p]) == 1 ==>
      0x20 <= (unsigned char)s[p] && (unsigned char)s[p] <= 0x7e) &&
    ((unsigned char)s[p] == 0xc2 ==> (unsigned char)s[p + 1] >= 0xa0);

  // s[j] starts a character that a terminal shows and that ends before
  // s[n], or continues such a character that starts 1 to 3 bytes before.
  predicate quill_at{L}(char *s, integer j, integer n) =
    quill_char(s, j, n) ||
    (j >= 1 && quill_width(s[j - 1]) >= 2 && quill_char(s, j - 1, n)) ||
    (j >= 2 && quill_width(s[j - 2]) >= 3 && quill_char(s, j - 2, n)) ||
    (j >= 3 && quill_width(s[j - 3]) >= 4 && quill_char(s, j - 3, n));

  // s[0 .. n - 1] is UTF-8 that a terminal shows, character by character.
  predicate quill_shown{L}(char *s, integer n) =
    \forall integer j; 0 <= j < n ==> quill_at(s, j, n);
*/

/*
 * Writes s into out, an array of size bytes, with every byte that must not
 * reach a terminal raw (C0 controls, DEL, C1 controls and bytes that are
 * not valid UTF-8) as \xHH and a backslash as \\; the rest unchanged. Ends
 * out with a zero byte. Returns how many bytes of s it shows: fewer than
 * strlen(s) only when out is full, and then up to a whole character. No
 * byte of s takes more than 4 in out, so 4 * strlen(s) + 1 bytes hold all.
 */
/*@
  requires valid_read_string(s);
  requires 0 < size && \valid(out + (0 .. size - 1));
  requires \separated(out + (0 .. size - 1), s + (0 .. strlen(s)));
  assigns out[0 .. size - 1];
  ensures 0 <= \result <= \old(strlen(s));
  ensures size > 4 * \old(strlen(s)) ==> \result == \old(strlen(s));
  ensures \exists integer n; 0 <= n < size && out[n] == '\0' &&
    \forall integer j; 0 <= j < n ==> quill_printable(out[j]);
  ensures \exists integer n; 0 <= n < size && out[n] == '\0' &&
    quill_shown(out, n);
*/
size_t	quill_escape(char *out, size_t size, const char *s);

/*
 * Returns the part of name after its last '/' or '\', or NULL with *why
 * set when that names no file a device should store: it is empty, "." or
 * "..", or holds a control byte (C0 or DEL).
 */
/*@
  requires valid_read_string(name);
  requires \valid(why) && \separated(why, name + (0 .. strlen(name)));
  assigns *why;
  ensures \result == \null ==> *why != \null;
  ensures \result == \null ||
    (\base_addr(\result) == \base_addr(name) &&
     0 <= \result - name < \old(strlen(name)) &&
     \forall integer j; \result - name <= j < \old(strlen(name)) ==>
       name[j] != '/' && name[j] != '\\' && quill_printable(name[j]));
  ensures \result != \null ==> !(\result[0] == '.' &&
    (\result - name + 1 == \old(strlen(name)) ||
     (\result[1] == '.' && \result - name + 2 == \old(strlen(name)))));
*/
const char *quill_base_name(const char *name, const char **why);

#ifdef __cplusplus
}
#endif

#endif
