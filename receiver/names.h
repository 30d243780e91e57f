/*
 * What a receiver makes of the name a sender gives, which is hostile until
 * checked: the form shown on a terminal, and the base name a file is saved
 * under. C99 and C++ alike; the contracts (ACSL, in the comments that open
 * with an @) are proven by Frama-C's WP (scripts/prove) for every string.
 */
#ifndef QUILL_NAMES_H
#define QUILL_NAMES_H

#include <stddef.h>

/*@
  // A byte that a terminal shows rather than acts on: no C0 control, no DEL.
  predicate quill_printable(char x) =
    (unsigned char)x >= 0x20 && (unsigned char)x != 0x7f;
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

#endif
