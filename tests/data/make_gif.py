"""Writes small GIF files byte by byte, so that tests control every field:
frame places, local colour tables, disposal methods, transparent indices,
delays and the loop count. The image data is LZW with a clear code before
every few pixels, which keeps the code width fixed (valid for any decoder)."""
import struct


def lzw(indices, min_size=3):
    clear, end = 1 << min_size, (1 << min_size) + 1
    width = min_size + 1
    codes = []
    for at in range(0, len(indices), 5):
        codes.append(clear)
        codes.extend(indices[at:at + 5])
    codes.append(end)
    bits, count, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 255)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 255)
    blocks = bytearray([min_size])
    for at in range(0, len(out), 255):
        chunk = out[at:at + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\0")


def table(colours):
    """A colour table of 8 entries (the 3-bit size field is 2)."""
    colours = list(colours) + [(0, 0, 0)] * (8 - len(colours))
    return b"".join(bytes(c) for c in colours[:8])


def gif(width, height, colours, frames, loops=None):
    """frames: dicts with left, top, w, h, pixels (row-major indices 0..7),
    and optional disposal, transparent, delay, colours (a local table)."""
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", width, height, 0x82, 0, 0) + table(colours))
    if loops is not None:
        out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", loops) + b"\0"
    for f in frames:
        transparent = f.get("transparent")
        packed = (f.get("disposal", 0) << 2) | (1 if transparent is not None else 0)
        out += b"\x21\xf9\x04" + struct.pack("<BHB", packed, f.get("delay", 10), transparent or 0) + b"\0"
        local = f.get("colours")
        out += b"\x2c" + struct.pack("<HHHHB", f["left"], f["top"], f["w"], f["h"], 0x82 if local else 0)
        if local:
            out += table(local)
        out += lzw(f["pixels"])
    return bytes(out + b"\x3b")
