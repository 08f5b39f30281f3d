#include "data/rowstore.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

char *RowStore::Reserve(std::size_t bytes)
{
    if (bytes > freeBytes_) {
        const std::size_t size = std::max(nextBlock_, bytes);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        freeBytes_ = size;
        nextBlock_ = std::min(kBlock, nextBlock_ * 2);
    }
    char *at = free_;
    free_ += bytes;
    freeBytes_ -= bytes;
    return at;
}

void RowStore::Append(const std::vector<std::optional<std::string>> &cells)
{
    std::size_t text = 0;
    for (std::size_t c = 0; c < columns_; ++c)
        if (c < cells.size() && cells[c])
            text += cells[c]->size();
    if (text >= kNull)
        throw std::length_error("Linha grande demais para o conjunto de dados.");
    if (rows_ % kPage == 0 && rows_ / kPage == pages_.size())
        pages_.push_back(std::make_unique_for_overwrite<const char *[]>(kPage));
    const std::size_t header = columns_ * sizeof(std::uint32_t);
    char *row = Reserve(header + text);
    char *out = row + header;
    std::uint32_t end = 0;
    for (std::size_t c = 0; c < columns_; ++c) {
        std::uint32_t mark = kNull;
        if (c < cells.size() && cells[c]) {
            std::memcpy(out, cells[c]->data(), cells[c]->size());
            out += cells[c]->size();
            end += static_cast<std::uint32_t>(cells[c]->size());
            mark = 0;
        }
        const std::uint32_t stored = end | mark;
        std::memcpy(row + c * sizeof stored, &stored, sizeof stored);
    }
    pages_[rows_ >> kPageBits][rows_ & (kPage - 1)] = row;
    ++rows_;
}

std::optional<std::string_view> RowStore::Cell(std::size_t row, std::size_t column) const
{
    if (row >= rows_ || column >= columns_)
        return std::nullopt;
    const char *start = RowStart(row);
    std::uint32_t end, begin = 0;
    std::memcpy(&end, start + column * sizeof end, sizeof end);
    if (end & kNull)
        return std::nullopt;
    if (column > 0) {
        std::memcpy(&begin, start + (column - 1) * sizeof begin, sizeof begin);
        begin &= ~kNull;
    }
    return std::string_view(start + columns_ * sizeof end + begin, end - begin);
}

void RowStore::KeepOnly(std::size_t row)
{
    RowStore kept(columns_);
    if (row < rows_) {
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
