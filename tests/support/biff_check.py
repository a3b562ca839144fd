#!/usr/bin/python3
"""Checks the bookkeeping records of a BIFF8 Workbook stream, independently of our engine:
every position and count that a cell edit can move.

  biff_check.py WORKBOOK.xls

Prints one problem per line (nothing when the stream is consistent) and then a summary
line `labelsst=N sst_total=N sst_unique=N strings=N`. The container is read by xlrd's
compound-document reader.
"""

import struct
import sys

from xlrd import compdoc

BOF, EOF, BOUNDSHEET, SST, CONTINUE, EXTSST = 0x0809, 0x000A, 0x0085, 0x00FC, 0x003C, 0x00FF
INDEX, DIMENSIONS, ROW, DBCELL = 0x020B, 0x0200, 0x0208, 0x00D7
CELLS = {0x00FD, 0x0204, 0x00D6, 0x0203, 0x027E, 0x00BD, 0x0205, 0x0201, 0x00BE, 0x0006}
MULTI = {0x00BD: 6, 0x00BE: 2}


def records(stream):
    pos = 0
    out = []
    while pos + 4 <= len(stream):
        rid, length = struct.unpack_from("<HH", stream, pos)
        out.append((pos, rid, stream[pos + 4:pos + 4 + length]))
        pos += 4 + length
    return out


def cell_span(rid, data):
    row, col = struct.unpack_from("<HH", data, 0)
    if rid in MULTI:
        return row, col, col + (len(data) - 6) // MULTI[rid] - 1
    return row, col, col


def sst_string_starts(chain):
    """Positions (absolute) where each string's header starts, by our own reading."""
    starts = []
    seg, off = 0, 8
    data = [d for _, d in chain]

    def raw(n):
        nonlocal seg, off
        out = b""
        while len(out) < n:
            if off >= len(data[seg]):
                seg, off = seg + 1, 0
            take = min(n - len(out), len(data[seg]) - off)
            out += data[seg][off:off + take]
            off += take
        return out

    unique = struct.unpack_from("<I", data[0], 4)[0]
    for _ in range(unique):
        if off >= len(data[seg]):
            seg, off = seg + 1, 0
        starts.append(chain[seg][0] + 4 + off)
        count, flags = struct.unpack("<HB", raw(3))
        runs = struct.unpack("<H", raw(2))[0] if flags & 8 else 0
        ext = struct.unpack("<I", raw(4))[0] if flags & 4 else 0
        high = flags & 1
        left = count
        while left:
            if off >= len(data[seg]):
                seg, off = seg + 1, 0
                if seg >= len(data):
                    raise ValueError("SST runs past its last CONTINUE")
                high = data[seg][0] & 1
                off = 1
            width = 2 if high else 1
            take = min(left, (len(data[seg]) - off) // width)
            off += take * width
            left -= take
        raw(4 * runs)
        raw(ext)
    return starts


def check(stream):
    problems = []
    recs = records(stream)
    if any(rid == 0x002F for _, rid, _ in recs):
        return ["encrypted"], {}
    by_pos = {pos: (rid, data) for pos, rid, data in recs}
    for pos, rid, data in recs:
        if len(data) > 8224:
            problems.append("record 0x%04X at %d is longer than 8224 bytes" % (rid, pos))

    # Globals: up to the first EOF.
    globals_end = next(i for i, (_, rid, _) in enumerate(recs) if rid == EOF)
    sst_chain = []
    labelsst = 0
    summary = {}
    for i in range(globals_end):
        pos, rid, data = recs[i]
        if rid == BOUNDSHEET:
            target = struct.unpack_from("<I", data, 0)[0]
            if by_pos.get(target, (None,))[0] != BOF:
                problems.append("BOUNDSHEET points at %d, which is no BOF" % target)
        if rid == SST:
            sst_chain = [(pos, data)]
            j = i + 1
            while recs[j][1] == CONTINUE:
                sst_chain.append((recs[j][0], recs[j][2]))
                j += 1
    starts = sst_string_starts(sst_chain) if sst_chain else []
    if sst_chain:
        total, unique = struct.unpack_from("<II", sst_chain[0][1], 0)
        summary.update(sst_total=total, sst_unique=unique, strings=len(starts))
    for i in range(globals_end):
        pos, rid, data = recs[i]
        if rid == EXTSST:
            dsst = struct.unpack_from("<H", data, 0)[0]
            for b in range((len(data) - 2) // 8):
                ib, cb = struct.unpack_from("<IH", data, 2 + 8 * b)
                k = b * dsst
                if k >= len(starts):
                    break  # Excel leaves unused buckets uninitialised
                if starts[k] != ib:
                    problems.append("EXTSST bucket %d points at %d, not at string %d" % (b, ib, k))
                else:
                    home = max(p for p, _ in sst_chain if p < ib)
                    if cb != ib - home:
                        problems.append("EXTSST bucket %d has in-record offset %d, not %d" % (b, cb, ib - home))

    # Sheets: INDEX -> DBCELL, DBCELL -> ROW and first cells, ranges.
    i = globals_end + 1
    while i < len(recs):
        if recs[i][1] != BOF:
            break
        depth, j = 0, i
        sheet = []
        while j < len(recs):
            rid = recs[j][1]
            if rid == BOF:
                depth += 1
            elif rid == EOF:
                depth -= 1
                if depth == 0:
                    break
            elif depth == 1:
                sheet.append(recs[j])
            j += 1
        dims = None
        rows = {}
        cells = []
        for pos, rid, data in sheet:
            if rid == DIMENSIONS and len(data) >= 12:
                dims = struct.unpack_from("<IIHH", data, 0)
            elif rid == ROW:
                rows[struct.unpack_from("<H", data, 0)[0]] = struct.unpack_from("<HH", data, 2)
            elif rid in CELLS:
                cells.append(cell_span(rid, data))
                labelsst += rid == 0x00FD
            elif rid == INDEX:
                for e in range((len(data) - 16) // 4):
                    target = struct.unpack_from("<I", data, 16 + 4 * e)[0]
                    if by_pos.get(target, (None,))[0] != DBCELL:
                        problems.append("INDEX entry %d points at %d, which is no DBCELL" % (e, target))
            elif rid == DBCELL:
                back = struct.unpack_from("<I", data, 0)[0]
                if back == 0:
                    continue  # a block without rows
                first = pos - back
                if by_pos.get(first, (None,))[0] != ROW:
                    problems.append("DBCELL at %d: first ROW expected at %d" % (pos, first))
                    continue
                block_rows = []
                p = first
                while by_pos.get(p, (None,))[0] == ROW:
                    block_rows.append(struct.unpack_from("<H", by_pos[p][1], 0)[0])
                    p += 4 + len(by_pos[p][1])
                cursor = first + 4 + len(by_pos[first][1])
                rows_with_cells = {struct.unpack_from("<H", d, 0)[0] for _, r, d in sheet if r in CELLS}
                for n, off in enumerate(struct.unpack_from("<%dH" % ((len(data) - 4) // 2), data, 4)):
                    cursor += off  # an empty row's offset points where its cells would start
                    if n < len(block_rows) and block_rows[n] not in rows_with_cells:
                        continue
                    rec = by_pos.get(cursor)
                    if rec is None or rec[0] not in CELLS or n >= len(block_rows) \
                            or cell_span(rec[0], rec[1])[0] != block_rows[n]:
                        problems.append("DBCELL at %d: offset %d does not reach row %s's first cell" %
                                        (pos, n, block_rows[n] if n < len(block_rows) else "?"))
                        break
        for row, first, last in cells:
            if dims and not (dims[0] <= row < dims[1] and dims[2] <= first and last < dims[3]):
                problems.append("cell (%d,%d) outside DIMENSIONS %r" % (row, first, dims))
            if row in rows and not (rows[row][0] <= first and last < rows[row][1]):
                problems.append("cell (%d,%d) outside its ROW's columns %r" % (row, first, rows[row]))
        i = j + 1
    summary["labelsst"] = labelsst
    return problems, summary


def main():
    with open(sys.argv[1], "rb") as f:
        doc = compdoc.CompDoc(f.read(), logfile=open("/dev/null", "w"))
    stream = None
    for name in ("Workbook", "WORKBOOK", "WorkBook"):
        try:
            stream = doc.get_named_stream(name)
        except Exception:
            stream = None
        if stream:
            break
    problems, summary = check(stream)
    for p in problems:
        print(p)
    print(" ".join("%s=%s" % kv for kv in sorted(summary.items())))


if __name__ == "__main__":
    main()
