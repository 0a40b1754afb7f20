#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them. Each target's input layout is
described at the top of its source file; the helpers below build inputs in those layouts.
The dictionaries in dict/ are kept by hand.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def answer(status="SUCCESS", host="alpha.beta.gamma", lid="9", extra="", ini="dlk.php", head='<?xml version="1.0"?>\n'):
    release = "5.2.1.118"
    return (head + "<MVHostVersion>\n  <Status>%s</Status>\n"
            "  <DlkProductVersion>%s</DlkProductVersion>\n"
            "  <DlkProductDescription>Mirrorvale agent</DlkProductDescription>\n"
            "  <DlkIniName>%s</DlkIniName>\n  <DlkUrlRoot>https://%s/rel</DlkUrlRoot>\n"
            "  <DlkUnpackVersion>%s</DlkUnpackVersion>\n  <DlkExtVersion>%s</DlkExtVersion>\n"
            "  <SupportDelta>0</SupportDelta>\n  <LID>%s</LID>\n%s</MVHostVersion>\n"
            % (status, release, ini, host, release, release, lid, extra)).encode("utf-8")


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def seeds():
    yield "fuzz_version_answer", {
        "full": answer(),
        "failed": answer(status="FAILED"),
        "lower_case_status_root_ex": answer(status="success", extra="  <DlkUrlRootEx>ini/x64.ini</DlkUrlRootEx>\n"),
        "bom_crlf_no_lid": b"\xef\xbb\xbf" + answer(lid="").replace(b"\n", b"\r\n"),
        "error_page": b"<html><body>500 Internal Server Error</body></html>",
        "unclosed_envelope": answer().replace(b"</MVHostVersion>", b""),
        "non_ascii_values": answer(host="\u00e9t\u00e9.example", extra="  <DlkExtName>\U0001F600 \u4e2d</DlkExtName>\n"),
        "hostile_ini_name": answer(ini="..\\..\\Windows\\x.ini"),
        "device_ini_name": answer(ini="nul .ini"),
        "second_envelope": answer() + answer(status="FAILED"),
        "bare_minimum": b"<MVHostVersion><Status>SUCCESS</Status></MVHostVersion>",
    }
    yield "fuzz_tag_reader", {
        "status": u16(64) + b"\x00Status\x00<Status>SUCCESS</Status>\x00",
        "trimmed": u16(32) + b"\x00LID\x00<LID> \r\n\t9\t </LID>\x00none",
        "too_long": u16(4) + b"\x00Name\x00<Name>abcdef</Name>\x00default text",
        "empty_value": u16(8) + b"\x00A\x00<A>   </A>\x00d",
        "no_close": u16(100) + b"\x00Tag\x00text <Tag>value without end\x00fallback",
        "first_open_wins": u16(100) + b"\x00x\x00<x>one</x><x>two</x>\x00",
        "null_default": u16(10) + b"\x03y\x00<z>1</z>\x00",
        "long_name": u16(300) + b"\x00" + b"n" * 260 + b"\x00<" + b"n" * 260 + b">v</" + b"n" * 260 + b">\x00",
        "wide": u16(20) + b"\x00\xc3\xa9\x00<\xc3\xa9>\xf0\x9f\x98\x80</\xc3\xa9>\x00",
    }
    # Mode 1 scrambles its plain bytes with the scrambler the target links, then checks the stored
    # text as mode 0 does: no copy of the key is needed here. Input: output size, mode, start,
    # header, layout (filler count, bit 2 lower case), fillers, plain bytes.
    yield "fuzz_unscramble", {
        "token_s200": u16(260) + b"\x01" + b"\xc8\x00\x00" + b"t0k&en",
        "password_fillers": u16(64) + b"\x01" + b"\x11\xa4\x03" + b"\x01\x02\x03" + b"proxy-secret",
        "lower_case": u16(32) + b"\x01" + b"\xff\x00\x04" + b"Passw0rd!",
        "odd_length": u16(16) + b"\x00" + b"050055251F7",
        "header_only": u16(8) + b"\x00" + b"0000",
        "not_hex": u16(20) + b"\x00" + b" -1+0x1Gzz\t7f",
        "cut_output": u16(3) + b"\x01" + b"\x03\x00\x00" + b"longer than the output",
        "round_trip": u16(40) + b"\x01" + b"\x07\x00\x00" + b"plain text",
        "round_trip_fillers": u16(8) + b"\x03" + b"\xff\xfc\x06" + b"\x10\x20" + b"with\x00zero and cut",
        "round_trip_utf8": u16(100) + b"\x05" + b"\xc8\x00\x01" + b"\xaa" + "t\u00f6k\u20acn".encode("utf-8"),
    }
    yield "fuzz_server_url", {
        "https_orvik": b"\x08\x00" + u32(0) + b"\x02https://alpha.beta.gamma/Orvik\x00" + b"t0k&en",
        "http_label": b"\x08\x02" + u32(0) + b"http://alpha.beta.gamma\x00",
        "plain_name_lid": b"\x0b\x00" + u32(9) + b"alpha.beta.gamma\x00abc",
        "upper_scheme": b"\x0a\x03" + u32(0) + b"HTTPS://alpha.beta.gamma\x00tok",
        "other_path": b"\x03\x00" + u32(0xFFFFFFFE) + b"alpha.beta.gamma/other\x00",
        "single_word": b"\x01\x02" + u32(0) + b"localhost\x00",
        "orvik_slash": b"\x06\x00" + u32(1033) + b"update.example.com/orvik/\x00x",
        "long_label": b"\x0b\x01" + u32(7) + b"https://" + b"a" * 140 + b".example\x00" + b"T" * 300,
        "long_name": b"\x0b\x00" + u32(12) + b"b" * 120 + b"." + b"c" * 200 + b"\x00" + b"k" * 2100,
        "wide_name": b"\x0a\x00" + u32(1) + "https://\u00e9t\u00e9.example/Orvik".encode("utf-8") + b"\x00\xe2\x82\xac",
    }
    yield "fuzz_text_pieces", {
        "bounded_strings": b"\x00" + u16(16) + b"first text\x00" + u16(5) + b"second",
        "bounded_cut": b"\x00" + u16(3) + b"abcdef\x00" + u16(100) + b"ghijkl",
        "base64": b"\x01" + u16(64) + b"any bytes\x00\xff\x01",
        "base64_short_output": b"\x01" + u16(5) + b"abcdef",
        "url_https": b"\x02https://alpha.beta.gamma:8443/rel/dlk.php\x00/report/upload.php?a=1&traceinfo=body&TK=x",
        "url_token": b"\x02alpha.beta.gamma\x00http://h/smt.php?AT=RV&LID=9&TK=t0k&en",
        "trace_buffer": b"\x03" + u16(40) + b"\x00Create CUrlRequest object \x00\x03" + u32(0x1234) + b"\x04\x02" + u32(0xFFFFFFFF) + b"\x02" + u32(0x80000000),
        "trace_tiny": b"\x03" + u16(3) + b"\x00hello\x00\x01" + u32(12345),
        "char_str": b"\x04first string\x00second",
        "path_version": b"\x05\x02\x02" + u32(6) + u32(1) + b"0x1f\x00\x04C:\\Orvik\\MV\\bin\\mvupdate.exe",
    }


def main():
    for target, files in seeds():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
