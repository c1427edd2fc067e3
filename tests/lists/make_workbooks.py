"""Writes the workbooks of the spreadsheet import tests into a folder.

The same sheet as .xls (xlwt) and .xlsx (openpyxl), and damaged or hostile
packages made by hand with zipfile.

    make_workbooks.py FOLDER
"""
import datetime
import os
import struct
import sys
import zipfile

import openpyxl
import xlwt

LONG = "x" * 60 + "@long.example.com"  # the "@" lies beyond what staging keeps
ROWS = [
    ["Email", "First", "Last", "Sal", "Joined", "Time", "Stamp", "Count", "Price", "Active"],
    ["ann@x.com", "Ann", "Smith", "Ms.", datetime.date(2024, 3, 5), datetime.time(13, 4, 5),
     datetime.datetime(2024, 12, 25, 7, 8, 9), 42, 2.5, True, "Zo\u00eb"],
    [],
    ["no address here", "Bob"],
    ["bob@x.com", "Bob", None, None, datetime.date(1999, 1, 1), datetime.time(0, 0, 1),
     datetime.datetime(2000, 2, 29, 23, 59, 59), -7, 0.1 + 0.2, False, "A" * 70, None, "m@x", "n@x"],
    [None] * 13 + ["only.beyond@m.com"],
    [LONG],
    [None, None, "cy@x.com", 1234567890123.0, 1e20],
]
FORMATS = {datetime.date: "M/D/YY", datetime.time: "h:mm:ss", datetime.datetime: "M/D/YY h:mm:ss"}


def write_xls(path):
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Contacts")
    styles = {t: xlwt.easyxf(num_format_str=f) for t, f in FORMATS.items()}
    for r, row in enumerate(ROWS):
        for c, value in enumerate(row):
            if value is None:
                continue
            style = styles.get(type(value))
            ws.write(r, c, value, style) if style else ws.write(r, c, value)
    wb.add_sheet("Other").write(0, 0, "other@x.com")
    wb.save(path)


def write_xlsx(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Contacts"
    for r, row in enumerate(ROWS, start=1):
        for c, value in enumerate(row, start=1):
            if value is not None:
                ws.cell(row=r, column=c, value=value)
    wb.create_sheet("Other")["A1"] = "other@x.com"
    wb.save(path)


def package(path, parts):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text)


RELS = ('<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
        'officeDocument" Target="xl/workbook.xml"/></Relationships>')
WORKBOOK = ('<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">{pad}'
            '<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
WB_RELS = ('<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
           '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
           'worksheet" Target="worksheets/sheet1.xml"/>'
           '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
           'sharedStrings" Target="sharedStrings.xml"/></Relationships>')


def sheet(cells):
    return ('<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            '<sheetData><row r="1">' + cells + '</row></sheetData></worksheet>')


def strings(items):
    return ('<?xml version="1.0"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            + "".join("<si><t>%s</t></si>" % s for s in items) + "</sst>")


def hostile(folder):
    base = {"_rels/.rels": RELS, "xl/workbook.xml": WORKBOOK.format(pad=""),
            "xl/_rels/workbook.xml.rels": WB_RELS,
            "xl/sharedStrings.xml": strings(["a@b.com"]),
            "xl/worksheets/sheet1.xml": sheet('<c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><is>'
                                              '<r><t>in</t></r><r><t>line</t></r><rPh><t>no</t></rPh></is></c>')}
    package(os.path.join(folder, "handmade.xlsx"), base)
    package(os.path.join(folder, "nosheet.xlsx"), {k: v for k, v in base.items() if "worksheets" not in k})
    package(os.path.join(folder, "badindex.xlsx"),
            dict(base, **{"xl/worksheets/sheet1.xml": sheet('<c r="A1" t="s"><v>7</v></c>')}))
    package(os.path.join(folder, "badxml.xlsx"),
            dict(base, **{"xl/worksheets/sheet1.xml": sheet("<c><v>1</v>")[:-40]}))
    # 64 MB of blanks in the workbook part pack into a few dozen kilobytes.
    package(os.path.join(folder, "bomb.xlsx"), dict(base, **{"xl/workbook.xml": WORKBOOK.format(pad=" " * (64 << 20))}))
    package(os.path.join(folder, "manystrings.xlsx"),
            dict(base, **{"xl/sharedStrings.xml": strings("s%d@x" % i for i in range(5000))}))
    with open(os.path.join(folder, "contacts.xlsx"), "rb") as f:
        whole = f.read()
    with open(os.path.join(folder, "truncated.xlsx"), "wb") as f:
        f.write(whole[: len(whole) // 2])
    with open(os.path.join(folder, "contacts.xls"), "rb") as f:
        whole = f.read()
    with open(os.path.join(folder, "truncated.xls"), "wb") as f:
        f.write(whole[: len(whole) // 3])
    with open(os.path.join(folder, "text.xlsx"), "w") as f:
        f.write("Email\nann@x.com\n")
    # A few kilobytes whose sheet claims every cell a binary workbook can have.
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Huge")
    ws.write(0, 0, "a@b.com")
    ws.write(65535, 255, "z")
    wb.save(os.path.join(folder, "hugeclaim.xls"))


def write_formulas_xls(path):
    """Formulas with last results, as a spreadsheet program leaves them.

    xlwt writes every formula's result as "not yet calculated", so the
    results are put into the file afterwards: a number, a date, a logical
    value, an error and a text. The text lives in a STRING record right
    after its formula; it takes the place of the text cell beside it, whose
    record has the same size.
    """
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Formulas")
    stamp = xlwt.easyxf(num_format_str=FORMATS[datetime.datetime])
    ws.write(0, 0, xlwt.Formula('"e"&"@x.com"'))
    ws.write(0, 1, "placeholder")
    ws.write(0, 2, xlwt.Formula("1+1.5"))
    ws.write(0, 3, xlwt.Formula("45356+0.5"), stamp)
    ws.write(0, 4, xlwt.Formula("1=1"))
    ws.write(0, 5, xlwt.Formula("1/0"))
    ws.write(0, 6, xlwt.Formula("2+2"))  # never calculated
    wb.save(path)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    uncalculated = struct.pack("<Q", 0xFFFF000000000003)
    results = {0: struct.pack("<Q", 0xFFFF000000000000), 2: struct.pack("<d", 2.5),
               3: struct.pack("<d", 45356.5), 4: struct.pack("<Q", 0xFFFF000000010001),
               5: struct.pack("<Q", 0xFFFF000000070002)}
    for column, result in results.items():
        at = 0  # the FORMULA record of the cell in row 0
        while not (data[at:at + 2] == b"\x06\x00" and data[at + 4:at + 8] == struct.pack("<HH", 0, column)
                   and data[at + 10:at + 18] == uncalculated):
            at = data.index(b"\x06\x00", at + 1)
        data[at + 10:at + 18] = result
        if column == 0:
            after = at + 4 + struct.unpack("<H", data[at + 2:at + 4])[0]
            assert data[after:after + 4] == b"\xfd\x00\x0a\x00", "no text cell after the formula"
            data[after:after + 14] = struct.pack("<HHHB", 0x0207, 10, 7, 0) + b"e@x.com"
    with open(path, "wb") as f:
        f.write(data)


def main():
    folder = sys.argv[1]
    write_xls(os.path.join(folder, "contacts.xls"))
    write_xlsx(os.path.join(folder, "contacts.xlsx"))
    write_formulas_xls(os.path.join(folder, "formulas.xls"))
    hostile(folder)


if __name__ == "__main__":
    main()
