# Prints encoded header values made by Python's email.header, one per line:
# hex of the folded value (lines joined by LF), tab, hex of the text it
# stands for in UTF-8.
import email.charset
import email.header

texts = [
    "Hello",
    "Caf\u00e9 Bar",
    "a_b = c? d",
    "Gr\u00fc\u00dfe aus K\u00f6ln, und noch ein wenig mehr Text",
    "\u00e9t\u00e9 \u00e0 la plage",
    "under_score_and=equals",
    "Smith, J\u00f6rg",
    "  blanks around  ",
    "?=?=",
]

def charset(name, encoding):
    cs = email.charset.Charset(name)
    cs.header_encoding = encoding
    return cs

def emit(encoded, expected):
    print(encoded.encode("ascii").hex() + "\t" + expected.hex())

for text in texts:
    for name in ("utf-8", "iso-8859-1"):
        for encoding in (email.charset.BASE64, email.charset.QP):
            encoded = email.header.Header(text, charset(name, encoding)).encode()
            emit(encoded, text.encode("utf-8"))
    # An encoded word followed and preceded by plain text keeps its blanks.
    mixed = email.header.make_header(
        [(b"plain", None), (text.encode("utf-8"), "utf-8"), (b"tail", None)])
    decoded = str(email.header.make_header(email.header.decode_header(mixed.encode())))
    emit(mixed.encode(), decoded.encode("utf-8"))
