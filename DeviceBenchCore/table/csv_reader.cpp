#include "DeviceBenchCore/table/csv_reader.h"

#include <csv.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "DeviceBenchCore/table/table_error.h"

namespace {

constexpr char kDelimiterCandidates[] = {',', '|', '\t', ';', '^'};
constexpr unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};

// Only blanks around unquoted cells are dropped: a tab may be the delimiter or part of a cell.
int IsBlank(unsigned char c) {
    return c == ' ';
}

}  // namespace

void CsvReader::ParserDeleter::operator()(csv_parser* p) const {
    csv_free(p);
    delete p;
}

CsvReader::CsvReader(const std::string& path) : path_(path) {
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) Fail(std::string("cannot open the file: ") + std::strerror(errno));

    chunk_.reset(new char[kChunkBytes]);
    const std::string head(chunk_.get(), std::fread(chunk_.get(), 1, kChunkBytes, file_.get()));
    if (head.empty() && std::ferror(file_.get())) {
        Fail(std::string("cannot read the file: ") + std::strerror(errno));
    }
    if (head.empty()) Fail("the file is empty");
    size_t skip = 0;
    if (head.size() >= 3 && std::memcmp(head.data(), kUtf8Bom, 3) == 0) skip = 3;
    delimiter_ = DetectDelimiter(head.substr(skip));
    std::fseek(file_.get(), static_cast<long>(skip), SEEK_SET);
    bytes_read_ = skip;

    parser_.reset(new csv_parser);
    if (csv_init(parser_.get(), CSV_STRICT | CSV_STRICT_FINI) != 0) {
        delete parser_.release();
        Fail("cannot set up the CSV parser");
    }
    csv_set_delim(parser_.get(), static_cast<unsigned char>(delimiter_));
    csv_set_space_func(parser_.get(), IsBlank);

    std::vector<std::string> header;
    if (!ReadRow(header)) Fail("the file has no header row");
    header_ = std::move(header);
    for (size_t i = 0; i < header_.size(); ++i)
        columns_.emplace(header_[i], i);
}

CsvReader::~CsvReader() = default;

char CsvReader::DetectDelimiter(const std::string& head) {
    std::array<size_t, sizeof(kDelimiterCandidates)> counts{};
    bool quoted = false;
    for (char c : head) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        for (size_t i = 0; i < counts.size(); ++i) {
            if (c == kDelimiterCandidates[i]) ++counts[i];
        }
    }
    size_t best = 0;
    for (size_t i = 1; i < counts.size(); ++i) {
        if (counts[i] > counts[best]) best = i;
    }
    return kDelimiterCandidates[best];
}

void CsvReader::OnCell(void* data, size_t len, void* self) {
    auto* reader = static_cast<CsvReader*>(self);
    if (reader->pending_row_.size() >= kMaxColumns) {
        reader->too_wide_ = true;
        return;
    }
    reader->pending_row_.emplace_back(static_cast<const char*>(data), len);
}

void CsvReader::OnRowEnd(int, void* self) {
    auto* reader = static_cast<CsvReader*>(self);
    if (reader->error_) return;
    if (reader->too_wide_) {
        reader->SetError(kNoColumn, "more than " + std::to_string(kMaxColumns) + " cells");
        return;
    }
    ++reader->rows_completed_;
    const size_t width = reader->pending_row_.size();
    reader->rows_.push_back(std::move(reader->pending_row_));
    reader->pending_row_.clear();
    reader->pending_row_.reserve(width);  // rows are usually as wide as the one before
}

bool CsvReader::FillRows() {
    while (rows_.empty() && !error_ && !at_end_) {
        size_t got = std::fread(chunk_.get(), 1, kChunkBytes, file_.get());
        if (got > 0) {
            bytes_read_ += got;
            if (bytes_read_ > kMaxFileBytes) {
                SetError(kNoColumn,
                         "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes");
                break;
            }
            if (csv_parse(parser_.get(), chunk_.get(), got, OnCell, OnRowEnd, this) != got &&
                !error_) {
                SetError(
                    pending_row_.size(),
                    "malformed quotes (a quote inside an unquoted cell or text after a closing "
                    "quote)");
            }
            continue;
        }
        at_end_ = true;
        if (std::ferror(file_.get())) {
            SetError(kNoColumn, "read error");
        } else if (csv_fini(parser_.get(), OnCell, OnRowEnd, this) != 0 && !error_) {
            SetError(pending_row_.size(), "unterminated quote");
        }
    }
    return !rows_.empty();
}

bool CsvReader::ReadRow(std::vector<std::string>& cells) {
    if (rows_.empty() && !FillRows()) {
        if (error_) {
            throw TableError(path_, error_->row,
                             error_->column == kNoColumn ? "" : ColumnName(error_->column),
                             error_->reason);
        }
        return false;
    }
    cells = std::move(rows_.front());
    rows_.pop_front();
    ++row_number_;
    return true;
}

void CsvReader::SetError(size_t column, const std::string& reason) {
    error_.reset(new PendingError{rows_completed_ + 1, column, reason});
}

size_t CsvReader::ColumnIndex(const std::string& name) const {
    auto it = columns_.find(name);
    if (it == columns_.end()) {
        throw TableError(path_, 1, name, "Can't find a column named " + name);
    }
    return it->second;
}

std::string CsvReader::ColumnName(size_t index) const {
    if (index < header_.size() && !header_[index].empty()) return header_[index];
    return std::to_string(index + 1);
}

void CsvReader::Fail(const std::string& reason) const {
    throw TableError(path_, row_number_ + 1, "", reason);
}
