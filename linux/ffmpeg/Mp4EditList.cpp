#include "linux/ffmpeg/Mp4EditList.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <numeric>

namespace orvan {

namespace {

using Bytes = std::vector<unsigned char>;

std::uint64_t readBig(const Bytes& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

void writeBig(Bytes& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
}

void appendBig(Bytes& bytes, std::uint64_t value, int size) {
    bytes.resize(bytes.size() + static_cast<std::size_t>(size));
    writeBig(bytes, bytes.size() - static_cast<std::size_t>(size), value, size);
}

struct Box {
    std::size_t at = 0;      // where its header starts
    std::size_t header = 8;  // 8, or 16 with a 64-bit size
    std::size_t size = 0;    // header included
};

// The first child box of [from, to) named `type`.
std::optional<Box> find(const Bytes& bytes, std::size_t from, std::size_t to, const char* type) {
    while (from + 8 <= to) {
        Box box{from, 8, static_cast<std::size_t>(readBig(bytes, from, 4))};
        if (box.size == 1 && from + 16 <= to) {
            box.header = 16;
            box.size = static_cast<std::size_t>(readBig(bytes, from + 8, 8));
        }
        if (box.size < box.header || from + box.size > to) return std::nullopt;
        if (std::memcmp(&bytes[from + 4], type, 4) == 0) return box;
        from += box.size;
    }
    return std::nullopt;
}

std::optional<Box> child(const Bytes& bytes, const Box& parent, const char* type) {
    return find(bytes, parent.at + parent.header, parent.at + parent.size, type);
}

// A full box's duration field: after version, flags and the fields before it.
bool setDuration(Bytes& bytes, const Box& box, std::size_t fieldsBefore32, std::size_t fieldsBefore64,
                 std::uint64_t duration) {
    const std::size_t body = box.at + box.header;
    const bool wide = bytes[body] == 1;
    const std::size_t at = body + 4 + (wide ? fieldsBefore64 : fieldsBefore32);
    if (at + (wide ? 8 : 4) > box.at + box.size) return false;
    if (!wide && duration > 0xffffffffu) return false;
    writeBig(bytes, at, duration, wide ? 8 : 4);
    return true;
}

std::optional<std::uint64_t> timescale(const Bytes& bytes, const Box& box) {
    const std::size_t body = box.at + box.header;
    const std::size_t at = body + 4 + (bytes[body] == 1 ? 16 : 8);
    if (at + 4 > box.at + box.size) return std::nullopt;
    return readBig(bytes, at, 4);
}

Bytes editListBox(const std::vector<EditEntry>& entries) {
    bool wide = false;
    for (const auto& entry : entries) {
        wide = wide || entry.duration > 0xffffffffLL || entry.mediaTime > 0x7fffffffLL;
    }
    Bytes box;
    appendBig(box, 0, 4);
    box.insert(box.end(), {'e', 'l', 's', 't'});
    appendBig(box, wide ? 1 : 0, 1);
    appendBig(box, 0, 3);
    appendBig(box, entries.size(), 4);
    for (const auto& entry : entries) {
        appendBig(box, static_cast<std::uint64_t>(entry.duration), wide ? 8 : 4);
        appendBig(box, static_cast<std::uint64_t>(entry.mediaTime), wide ? 8 : 4);
        appendBig(box, 1, 2);  // played at normal rate
        appendBig(box, 0, 2);
    }
    writeBig(box, 0, box.size(), 4);
    return box;
}

}  // namespace

std::optional<std::string> rewriteEditList(const std::filesystem::path& file, const std::vector<EditEntry>& entries) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::string("cannot open ") + file.string();
    std::error_code sizeError;
    const auto fileSize = static_cast<std::size_t>(std::filesystem::file_size(file, sizeError));
    if (sizeError) return sizeError.message();

    // Only the top-level headers are read on the way: the movie box comes last, where nothing
    // after it moves when it grows.
    std::optional<Box> movie;
    for (std::size_t at = 0; at + 8 <= fileSize;) {
        Bytes header(16, 0);
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(std::min<std::size_t>(16, fileSize - at)));
        if (!in) return std::string("cannot read ") + file.string();
        Box box{at, 8, static_cast<std::size_t>(readBig(header, 0, 4))};
        if (box.size == 1) box = Box{at, 16, static_cast<std::size_t>(readBig(header, 8, 8))};
        if (box.size < box.header || at + box.size > fileSize) return std::string("damaged box at ") + std::to_string(at);
        if (std::memcmp(&header[4], "moov", 4) == 0) movie = box;
        at += box.size;
    }
    if (!movie || movie->at + movie->size != fileSize) return std::string("the movie box is not at the end");
    Bytes bytes(movie->size);
    in.seekg(static_cast<std::streamoff>(movie->at));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) return std::string("cannot read ") + file.string();
    in.close();
    const Box moov{0, movie->header, movie->size};

    const auto mvhd = child(bytes, moov, "mvhd");
    const auto trak = child(bytes, moov, "trak");
    if (!mvhd || !trak || child(bytes, moov, "mvex")) return std::string("not a plain single-track movie");
    const auto tkhd = child(bytes, *trak, "tkhd");
    const auto edts = child(bytes, *trak, "edts");
    const auto mdia = child(bytes, *trak, "mdia");
    const auto mdhd = mdia ? child(bytes, *mdia, "mdhd") : std::nullopt;
    const auto elst = edts ? child(bytes, *edts, "elst") : std::nullopt;
    if (!tkhd || !elst || !mdhd || moov.header != 8 || trak->header != 8 || edts->header != 8) {
        return std::string("the track has no edit list to replace");
    }
    if (timescale(bytes, *mvhd) != timescale(bytes, *mdhd)) return std::string("movie and track time scales differ");

    const std::uint64_t total = std::accumulate(entries.begin(), entries.end(), std::uint64_t{0},
                                                [](std::uint64_t sum, const EditEntry& e) {
                                                    return sum + static_cast<std::uint64_t>(e.duration);
                                                });
    // mvhd: creation, modification, time scale, then the duration; tkhd: creation, modification,
    // track id, a reserved word, then the duration.
    if (!setDuration(bytes, *mvhd, 12, 20, total) || !setDuration(bytes, *tkhd, 16, 24, total)) {
        return std::string("durations do not fit the header");
    }

    const Bytes list = editListBox(entries);
    const auto growth = static_cast<std::int64_t>(list.size()) - static_cast<std::int64_t>(elst->size);
    for (const Box* parent : {&moov, &*trak, &*edts}) {
        writeBig(bytes, parent->at, static_cast<std::uint64_t>(static_cast<std::int64_t>(parent->size) + growth), 4);
    }
    Bytes rebuilt(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(elst->at));
    rebuilt.insert(rebuilt.end(), list.begin(), list.end());
    rebuilt.insert(rebuilt.end(), bytes.begin() + static_cast<std::ptrdiff_t>(elst->at + elst->size), bytes.end());

    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(movie->at));
    out.write(reinterpret_cast<const char*>(rebuilt.data()), static_cast<std::streamsize>(rebuilt.size()));
    out.close();
    if (!out) return std::string("cannot write ") + file.string();
    std::error_code error;
    std::filesystem::resize_file(file, movie->at + rebuilt.size(), error);
    if (error) return error.message();
    return std::nullopt;
}

}  // namespace orvan
