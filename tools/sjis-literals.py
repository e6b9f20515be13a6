#!/usr/bin/env python3
"""Shift_JIS texts as byte escapes, the same from every compiler.

The tool writes its log lines, card words and messages in CP932. Rather than
rely on a compiler that can re-encode UTF-8 source text (GCC's
-fexec-charset), every narrow string or character literal that holds Japanese
text is kept as \\xHH escapes of its CP932 bytes, with the text itself in a
comment right behind it:

    vLogAdd("\\x83\\x4A\\x81\\x7C\\x83\\x68\\x8F\\x6F\\x97\\xCD\\x8E\\xB8\\x94\\x73" /* カ－ド出力失敗 */);

Usage:
    sjis-literals.py FILE...           rewrite the literals of FILEs in place
    sjis-literals.py --check FILE...   verify, change nothing

The rewrite turns every narrow literal with non-ASCII text into that form; a
literal that is ASCII already (an escaped one too) is left as it is, so a
second run changes nothing. Where an escape would run into a following hex
digit the literal is split ("\\x83" "A"). Comments, u8/u/U literals and the
rest of the code are not touched.

--check fails (status 1) when a narrow literal still holds raw non-ASCII
text, or when an escaped literal with its comment disagrees: the comment's
text, encoded in CP932 here, must give exactly the bytes of the escapes.
"""

import argparse
import re
import sys

CODEC = 'cp932'
ID_CHARS = re.compile(r'[A-Za-z0-9_]')
# Prefixes of literals whose bytes do not depend on the execution character set.
FIXED_PREFIXES = {'u8', 'u', 'U', 'u8R', 'uR', 'UR'}
HEX = set('0123456789abcdefABCDEF')
SIMPLE_ESCAPES = {'n': 0x0A, 't': 0x09, 'r': 0x0D, 'a': 0x07, 'b': 0x08, 'f': 0x0C, 'v': 0x0B,
                  '\\': 0x5C, '\'': 0x27, '"': 0x22, '?': 0x3F}


class Token:
    """A piece of the source: kind is 'str', 'chr', 'comment' or 'code'."""

    def __init__(self, kind, start, end, prefix='', quote='', body='', raw=False):
        self.kind, self.start, self.end = kind, start, end
        self.prefix, self.quote, self.body, self.raw = prefix, quote, body, raw


def lex(text):
    """Cuts C++ source into literals, comments and the code between them."""
    toks = []
    i, n = 0, len(text)
    code_start = 0

    def flush(upto):
        if upto > code_start:
            toks.append(Token('code', code_start, upto))

    while i < n:
        c = text[i]
        if c == '/' and text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            flush(i)
            toks.append(Token('comment', i, j, body=text[i + 2:j]))
            i = code_start = j
            continue
        if c == '/' and text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            flush(i)
            toks.append(Token('comment', i, j, body=text[i + 2:j - 2]))
            i = code_start = j
            continue
        if c.isdigit() and (i == 0 or not ID_CHARS.match(text[i - 1])):
            # A number may hold digit separators (1'000): no character literal.
            j = i
            while j < n and (ID_CHARS.match(text[j]) or text[j] in ".'"
                             or (text[j] in '+-' and text[j - 1] in 'eEpP')):
                j += 1
            i = j
            continue
        if ID_CHARS.match(c):
            j = i
            while j < n and ID_CHARS.match(text[j]):
                j += 1
            word = text[i:j]
            if j < n and text[j] in '"\'' and word in ('L', 'u', 'U', 'u8', 'R', 'LR', 'uR', 'UR', 'u8R'):
                tok, end = lex_literal(text, i, j, word)
                flush(i)
                toks.append(tok)
                i = code_start = end
            else:
                i = j
            continue
        if c in '"\'':
            tok, end = lex_literal(text, i, i, '')
            flush(i)
            toks.append(tok)
            i = code_start = end
            continue
        i += 1
    flush(n)
    return toks


def lex_literal(text, start, q, prefix):
    """The literal whose quote stands at q (prefix from start)."""
    n = len(text)
    quote = text[q]
    if prefix.endswith('R') and quote == '"':
        paren = text.find('(', q + 1)
        delim = text[q + 1:paren]
        close = text.find(')' + delim + '"', paren + 1)
        if paren < 0 or close < 0:
            raise SyntaxError('unterminated raw string literal')
        end = close + len(delim) + 2
        return Token('str', start, end, prefix, quote, text[paren + 1:close], raw=True), end
    j = q + 1
    while j < n and text[j] != quote:
        if text[j] == '\\':
            j += 1
        elif text[j] == '\n':
            raise SyntaxError('unterminated literal')
        j += 1
    if j >= n:
        raise SyntaxError('unterminated literal')
    kind = 'str' if quote == '"' else 'chr'
    return Token(kind, start, j + 1, prefix, quote, text[q + 1:j]), j + 1


def unescape(body, encode):
    """The bytes of a literal body: escapes give their byte, other characters
    go through encode (None for a character it cannot take)."""
    out = bytearray()
    i, n = 0, len(body)
    while i < n:
        c = body[i]
        if c != '\\':
            b = encode(c)
            if b is None:
                return None
            out += b
            i += 1
            continue
        i += 1
        if i >= n:
            return None
        e = body[i]
        if e in SIMPLE_ESCAPES:
            out.append(SIMPLE_ESCAPES[e])
            i += 1
        elif e == 'x':
            j = i + 1
            while j < n and body[j] in HEX:
                j += 1
            if j == i + 1 or int(body[i + 1:j], 16) > 0xFF:
                return None
            out.append(int(body[i + 1:j], 16))
            i = j
        elif e in '01234567':
            j = i
            while j < n and j < i + 3 and body[j] in '01234567':
                j += 1
            v = int(body[i:j], 8)
            if v > 0xFF:
                return None
            out.append(v)
            i = j
        else:
            return None
    return bytes(out)


def cp932(c):
    try:
        return c.encode(CODEC)
    except UnicodeEncodeError:
        return None


def ascii_only(c):
    return c.encode('ascii') if ord(c) < 0x80 else None


def line_of(text, pos):
    return text.count('\n', 0, pos) + 1


def escaped_pieces(body, quote):
    """The body with every non-ASCII character as \\xHH escapes of its CP932
    bytes, as a list of literal bodies: a new piece starts where a hex digit
    would otherwise extend the escape before it."""
    pieces = ['']
    after_escape = False
    i = 0
    while i < len(body):
        c = body[i]
        if c == '\\':
            # An escape of the source stays as it is, whole.
            m = re.match(r'\\(x[0-9a-fA-F]+|[0-7]{1,3}|.)', body[i:], re.S)
            pieces[-1] += m.group(0)
            i += len(m.group(0))
            after_escape = False
            continue
        if ord(c) < 0x80:
            if after_escape and c in HEX:
                pieces.append('')
            pieces[-1] += c
            after_escape = False
        else:
            b = cp932(c)
            if b is None:
                raise ValueError('%r has no CP932 form' % c)
            pieces[-1] += ''.join('\\x%02X' % x for x in b)
            after_escape = True
        i += 1
    if quote == '\'' and len(pieces) > 1:
        raise ValueError('a character constant cannot be split')
    return pieces


def has_non_ascii(s):
    return any(ord(c) >= 0x80 for c in s)


def rewrite(path, text):
    """The text with its literals rewritten, and the problems found."""
    problems = []
    out = []
    last = 0
    for tok in lex(text):
        if tok.kind not in ('str', 'chr') or tok.prefix in FIXED_PREFIXES or not has_non_ascii(tok.body):
            continue
        where = '%s:%d' % (path, line_of(text, tok.start))
        if tok.raw or tok.prefix:
            problems.append('%s: %s literal with non-ASCII text left alone' % (where, tok.prefix or 'raw'))
            continue
        if '*/' in tok.body or '/*' in tok.body or '\n' in tok.body or '\\\n' in tok.body:
            problems.append('%s: text cannot stand in a comment; literal left alone' % where)
            continue
        try:
            pieces = escaped_pieces(tok.body, tok.quote)
        except ValueError as err:
            problems.append('%s: %s; literal left alone' % (where, err))
            continue
        if tok.quote == '\'' and len(cp932_bytes(tok.body)) > 1:
            problems.append('%s: character constant of %d bytes (a multi-character int)'
                            % (where, len(cp932_bytes(tok.body))))
        q = tok.quote
        lit = ' '.join(q + p + q for p in pieces)
        out.append(text[last:tok.start])
        out.append('%s /* %s */' % (lit, tok.body))
        last = tok.end
    out.append(text[last:])
    return ''.join(out), problems


def cp932_bytes(body):
    return unescape(body, cp932) or b''


def check(path, text):
    """Problems of one file: raw non-ASCII text in a narrow literal, and
    escaped literals whose comment does not give their bytes."""
    problems = []
    toks = [t for t in lex(text) if t.kind != 'code' or t.start < t.end]
    for k, tok in enumerate(toks):
        where = '%s:%d' % (path, line_of(text, tok.start))
        if tok.kind in ('str', 'chr') and tok.prefix not in FIXED_PREFIXES:
            if has_non_ascii(tok.body):
                problems.append('%s: raw non-ASCII text in a literal: %s%s%s%s'
                                % (where, tok.prefix, tok.quote, tok.body, tok.quote))
            continue
        if tok.kind != 'comment' or not text.startswith('/*', tok.start):
            continue
        # The literals right in front of this comment, on the same line, with
        # nothing but blanks between them: one escaped text.
        group = []
        j = k - 1
        while j >= 0:
            t = toks[j]
            if t.kind == 'code':
                if text[t.start:t.end].strip(' \t') != '':
                    break
            elif t.kind in ('str', 'chr') and not t.prefix:
                group.insert(0, t)
            else:
                break
            j -= 1
        if not group:
            continue
        have = b''.join(unescape(t.body, ascii_only) or b'' for t in group)
        if all(b < 0x80 for b in have):
            continue  # a plain ASCII literal with a remark behind it
        if any(unescape(t.body, ascii_only) is None for t in group):
            problems.append('%s: literal that cannot be read' % where)
            continue
        # The rewrite writes "/* " TEXT " */": one blank each side is layout.
        body = tok.body
        if len(body) >= 2 and body[0] == ' ' and body[-1] == ' ':
            body = body[1:-1]
        want = unescape(body, cp932)
        if want is None:
            problems.append('%s: comment %r has no CP932 form' % (where, tok.body))
        elif want != have:
            problems.append('%s: bytes %s do not spell /*%s*/ (CP932 %s)'
                            % (where, have.hex(' ').upper(), tok.body, want.hex(' ').upper()))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--check', action='store_true', help='verify only, change nothing')
    ap.add_argument('files', nargs='+')
    args = ap.parse_args()
    status = 0
    changed = 0
    for path in args.files:
        with open(path, encoding='utf-8', errors='surrogateescape', newline='') as f:
            text = f.read()
        try:
            if args.check:
                problems = check(path, text)
            else:
                new, problems = rewrite(path, text)
                if new != text:
                    with open(path, 'w', encoding='utf-8', errors='surrogateescape', newline='') as f:
                        f.write(new)
                    changed += 1
                    problems += check(path, new)
        except SyntaxError as err:
            problems = ['%s: %s' % (path, err)]
        for p in problems:
            print(p, file=sys.stderr)
        if problems:
            status = 1
    if not args.check:
        print('%d of %d files rewritten' % (changed, len(args.files)))
    return status


if __name__ == '__main__':
    sys.exit(main())
