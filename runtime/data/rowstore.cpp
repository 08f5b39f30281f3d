#include "data/rowstore.h"

#include <algorithm>
#include <cstring>

char *RowStore::Reserve(std::size_t bytes)
{
    if (bytes > freeBytes_) {
        const std::size_t size = std::max(nextBlock_, bytes);
        blocks_.emplace_back(size);
        free_ = blocks_.back().Data();
        freeBytes_ = size;
        nextBlock_ = std::min(kBlock, nextBlock_ * 2);
    }
    char *at = free_;
    free_ += bytes;
    freeBytes_ -= bytes;
    return at;
}

namespace {
std::size_t lengthBytes(std::size_t n)
{
    std::size_t bytes = 1;
    for (; n >= 0x80; n >>= 7)
        ++bytes;
    return bytes;
}

char *putLength(char *out, std::size_t n)
{
    for (; n >= 0x80; n >>= 7)
        *out++ = static_cast<char>((n & 0x7F) | 0x80);
    *out++ = static_cast<char>(n);
    return out;
}

const char *getLength(const char *in, std::size_t &n)
{
    n = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*in++);
        n |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return in;
    }
}
} // namespace

void RowStore::Append(const std::vector<std::optional<std::string>> &cells)
{
    std::size_t bytes = 0;
    for (std::size_t c = 0; c < columns_; ++c)
        bytes += c < cells.size() && cells[c] ? lengthBytes(cells[c]->size() + 1) + cells[c]->size() : 1;
    // Room first, so that nothing fails once the row is half made.
    if (rowStart_.size() == rowStart_.capacity())
        rowStart_.reserve(std::max<std::size_t>(16, rowStart_.capacity() * 2));
    char *const row = Reserve(bytes);
    char *out = row;
    for (std::size_t c = 0; c < columns_; ++c) {
        if (c < cells.size() && cells[c]) {
            out = putLength(out, cells[c]->size() + 1);
            std::memcpy(out, cells[c]->data(), cells[c]->size());
            out += cells[c]->size();
        } else {
            *out++ = 0;
        }
    }
    rowStart_.push_back(row);
}

std::optional<std::string_view> RowStore::Cell(std::size_t row, std::size_t column) const
{
    if (row >= rowStart_.size() || column >= columns_)
        return std::nullopt;
    const char *at = rowStart_[row];
    for (std::size_t c = 0;; ++c) {
        std::size_t n;
        at = getLength(at, n);
        if (c == column)
            return n == 0 ? std::nullopt : std::optional<std::string_view>(std::string_view(at, n - 1));
        if (n > 0)
            at += n - 1;
    }
}

void RowStore::KeepOnly(std::size_t row)
{
    RowStore kept(columns_);
    if (row < rowStart_.size()) {
        std::vector<std::optional<std::string>> cells(columns_);
        for (std::size_t c = 0; c < columns_; ++c)
            if (auto cell = Cell(row, c))
                cells[c].emplace(*cell);
        kept.Append(cells);
    }
    std::swap(*this, kept);
}

void RowStore::Clear()
{
    RowStore empty;
    std::swap(*this, empty);
}
