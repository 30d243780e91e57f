/*
 * What a receiver makes of the name a sender gives, which is hostile until
 * checked: the form shown on a terminal, the character set it is read in
 * and the base name a file is saved under. C99 and C++ alike; the
 * contracts (ACSL, in the comments that open with an @) are proven by
 * Frama-C's WP (scripts/prove) for every string.
 *
 * A sender sends a name's bytes as its system has them: UTF-8, or a
 * Windows system's code page. In the double-byte code pages 932 (Japanese),
 * 936 (Simplified Chinese), 949 (Korean) and 950 (Traditional Chinese) a
 * lead byte takes the byte after it into one character, and that second
 * byte may be 0x5c, the byte of '\': such a name is split on characters,
 * never on bytes. Every other code page has one byte per character.
 */
#ifndef QUILL_NAMES_H
#define QUILL_NAMES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Code page cp's lead bytes, as the functions below and the decoder read
   them (quill_lead). */
#define QUILL_LEAD(cp, b)	((cp) == 932 ? \
	((b) >= 0x81 && (b) <= 0x9f) || ((b) >= 0xe0 && (b) <= 0xfc) : \
	((cp) == 936 || (cp) == 949 || (cp) == 950) && (b) >= 0x81 && (b) <= 0xfe)

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

  // s[p] starts a UTF-8 character that ends before s[n].
  predicate quill_utf8_at{L}(char *s, integer p, integer n) =
    0 <= p && p + quill_width(s[p]) <= n && quill_utf8(s, p, quill_width(s[p]));

  // s[0 .. n - 1] is UTF-8: each byte is of a character that starts 0 to
  // 3 bytes before it.
  predicate quill_utf8_text{L}(char *s, integer n) =
    \forall integer j; 0 <= j < n ==>
      quill_utf8_at(s, j, n) ||
      (quill_width(s[j - 1]) >= 2 && quill_utf8_at(s, j - 1, n)) ||
      (quill_width(s[j - 2]) >= 3 && quill_utf8_at(s, j - 2, n)) ||
      (quill_width(s[j - 3]) >= 4 && quill_utf8_at(s, j - 3, n));

  // x is a lead byte of code page cp: it and the byte after it are one
  // character. Only the double-byte code pages have any.
  predicate quill_lead(integer cp, char x) =
    cp == 932 ? (0x81 <= (unsigned char)x <= 0x9f ||
      0xe0 <= (unsigned char)x <= 0xfc) :
    (cp == 936 || cp == 949 || cp == 950) &&
      0x81 <= (unsigned char)x <= 0xfe;

  // Read from s[0] in code page cp, s[j] is the second byte of a
  // character: the byte before it is a lead byte that is not itself one.
  predicate quill_trail{L}(char *s, integer cp, integer j) =
    j >= 1 && quill_lead(cp, s[j - 1]) && !quill_trail(s, cp, j - 1);

  // s[j] is a separator read from s[0] in code page cp: '/', which no
  // code page takes for a second byte (a name that is not UTF-8 yet, a
  // cut one, may be), or a '\' that starts a character.
  predicate quill_sep{L}(char *s, integer cp, integer j) =
    s[j] == '/' || (s[j] == '\\' && !quill_trail(s, cp, j));
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
 * Returns the character set name is read in: 0 for UTF-8 (or a code page
 * of one byte per character, where every byte stands alone) when name is
 * UTF-8 or codepage is not double-byte, else codepage. A name that is
 * UTF-8 is taken as such whatever the code page: in it a lead byte of a
 * code page may stand before '/'. Proven: 0 for a double-byte code page
 * only when name is UTF-8; that a UTF-8 name gets 0 is tested.
 */
/*@
  requires valid_read_string(name);
  assigns \nothing;
  ensures \result == 0 || \result == codepage;
  ensures (codepage != 932 && codepage != 936 && codepage != 949 &&
    codepage != 950) ==> \result == 0;
  ensures \result == 0 && (codepage == 932 || codepage == 936 ||
    codepage == 949 || codepage == 950) ==>
    quill_utf8_text((char *)name, strlen(name));
*/
int	quill_charset(const char *name, int codepage);

/*
 * Returns the part of name after its last separator, '/' or '\' read in
 * character set charset (quill_charset): a second byte 0x5c of a
 * double-byte character is none. Returns NULL with *why set when that
 * part names no file a device should store: it is empty, "." or "..", or
 * holds a control byte (C0 or DEL).
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
       !quill_sep(name, charset, j) && quill_printable(name[j]));
  // Read on its own, what is returned holds no separator either.
  ensures \result == \null ||
    \forall integer j; 0 <= j < strlen(\result) ==>
      !quill_sep(\result, charset, j);
  // It starts after a separator, never after a second byte 0x5c.
  ensures \result == \null || \result == name ||
    quill_sep(name, charset, \result - name - 1);
  ensures \result != \null ==> !(\result[0] == '.' &&
    (\result - name + 1 == \old(strlen(name)) ||
     (\result[1] == '.' && \result - name + 2 == \old(strlen(name)))));
*/
const char *quill_base_name(const char *name, int charset, const char **why);

#ifdef __cplusplus
}
#endif

#endif
