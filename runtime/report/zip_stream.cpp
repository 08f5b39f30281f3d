#include "report/zip_stream.h"

#include "rtl/sysutils.h"

#include <zlib.h>

#include <ctime>

namespace {
constexpr std::size_t kFlushAt = 1 << 16;
constexpr std::uint64_t kLimit = 0xFFFFFFFFull;  // what 32-bit fields can tell
constexpr std::uint16_t kFlags = 0x0808;         // sizes after the data; UTF-8 names

void put16(std::string &out, std::uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string &out, std::uint64_t v)
{
    put16(out, static_cast<std::uint32_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint32_t>((v >> 16) & 0xFFFF));
}

// The moment of writing, as the archive's MS-DOS fields hold it.
std::pair<std::uint16_t, std::uint16_t> dosNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    const int year = t.tm_year + 1900 < 1980 ? 0 : t.tm_year + 1900 - 1980;
    const auto time = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    const auto date = static_cast<std::uint16_t>((year << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    return {time, date};
}

[[noreturn]] void tooLarge(const AtomicFile &file)
{
    throw Exception("A planilha \"" + file.Path() + "\" passaria de 4 GB, o maior arquivo que ela pode ter.");
}
} // namespace

struct ZipStream::Deflater {
    z_stream z{};
    bool live = false;
    std::uint16_t time = 0, date = 0;
    ~Deflater()
    {
        if (live)
            deflateEnd(&z);
    }
};

ZipStream::ZipStream(AtomicFile &file) : file_(file), deflater_(std::make_unique<Deflater>())
{
    const auto [time, date] = dosNow();
    deflater_->time = time;
    deflater_->date = date;
    out_.reserve(kFlushAt * 2);
}

ZipStream::~ZipStream() = default;

void ZipStream::emit(std::string_view bytes)
{
    out_.append(bytes);
    written_ += bytes.size();
    if (written_ > kLimit)
        tooLarge(file_);
    if (out_.size() >= kFlushAt)
        flushOut();
}

void ZipStream::flushOut()
{
    file_.Write(out_);
    out_.clear();
}

void ZipStream::Begin(const std::string &name)
{
    Entry e;
    e.name = name;
    e.offset = written_;
    e.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    std::string header;
    put32(header, 0x04034b50);
    put16(header, 20);
    put16(header, kFlags);
    put16(header, Z_DEFLATED);
    put16(header, deflater_->time);
    put16(header, deflater_->date);
    put32(header, 0);  // CRC and sizes follow the data
    put32(header, 0);
    put32(header, 0);
    put16(header, static_cast<std::uint32_t>(name.size()));
    put16(header, 0);
    header += name;
    emit(header);
    entries_.push_back(std::move(e));

    Deflater &d = *deflater_;
    d.z = z_stream{};
    // Raw deflate, as ZIP stores it; the fastest level is ample for XML.
    if (deflateInit2(&d.z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Exception("Não foi possível compactar a planilha \"" + file_.Path() + "\".");
    d.live = true;
    open_ = true;
}

void ZipStream::deflateOut(int flush)
{
    Deflater &d = *deflater_;
    char chunk[1 << 14];
    do {
        d.z.next_out = reinterpret_cast<Bytef *>(chunk);
        d.z.avail_out = sizeof chunk;
        const int rc = deflate(&d.z, flush);
        if (rc == Z_STREAM_ERROR)
            throw Exception("Não foi possível compactar a planilha \"" + file_.Path() + "\".");
        const std::size_t produced = sizeof chunk - d.z.avail_out;
        entries_.back().compressed += produced;
        emit(std::string_view(chunk, produced));
    } while (d.z.avail_out == 0);
}

void ZipStream::Write(std::string_view bytes)
{
    if (bytes.empty())
        return;
    Entry &e = entries_.back();
    e.size += bytes.size();
    if (e.size > kLimit)
        tooLarge(file_);
    e.crc = static_cast<std::uint32_t>(
        crc32(e.crc, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size())));
    Deflater &d = *deflater_;
    d.z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    d.z.avail_in = static_cast<uInt>(bytes.size());
    deflateOut(Z_NO_FLUSH);
}

void ZipStream::End()
{
    Deflater &d = *deflater_;
    d.z.next_in = nullptr;
    d.z.avail_in = 0;
    deflateOut(Z_FINISH);
    deflateEnd(&d.z);
    d.live = false;
    open_ = false;
    const Entry &e = entries_.back();
    std::string descriptor;
    put32(descriptor, 0x08074b50);
    put32(descriptor, e.crc);
    put32(descriptor, e.compressed);
    put32(descriptor, e.size);
    emit(descriptor);
}

void ZipStream::Finish()
{
    const std::uint64_t start = written_;
    std::string directory;
    for (const Entry &e : entries_) {
        put32(directory, 0x02014b50);
        put16(directory, 20);  // made by: MS-DOS, 2.0
        put16(directory, 20);
        put16(directory, kFlags);
        put16(directory, Z_DEFLATED);
        put16(directory, deflater_->time);
        put16(directory, deflater_->date);
        put32(directory, e.crc);
        put32(directory, e.compressed);
        put32(directory, e.size);
        put16(directory, static_cast<std::uint32_t>(e.name.size()));
        put16(directory, 0);  // extra
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, e.offset);
        directory += e.name;
    }
    emit(directory);
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put32(end, directory.size());
    put32(end, start);
    put16(end, 0);
    emit(end);
    flushOut();
}
