#pragma once
// CsvReader: streams the rows of one delimited text file through libcsv.
//
// The delimiter is detected from the header line among ',', '|', '\t', ';' and '^' (the one that
// occurs most often outside quotes; comma when none occurs). Double quotes enclose cells that hold
// delimiters or line feeds, "" inside them is a quote. The first row is the header and names the
// columns. Rows are numbered from 1, the header being row 1, as a spreadsheet shows them.
// Not thread-safe; one owner reads it front to back.

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct csv_parser;

class CsvReader {
public:
    //! Largest file read; a longer one fails with a TableError once this many bytes are consumed.
    static constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;
    //! Most cells in one row.
    static constexpr size_t kMaxColumns = 1024;
    //! Bytes read from the file at a time.
    static constexpr size_t kChunkBytes = 64 * 1024;

    //! Opens `path` and reads its header. Throws TableError when the file cannot be opened, is
    //! empty or its header row is malformed.
    explicit CsvReader(const std::string& path);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    //! Next data row into `cells` (as many cells as the row has). False at the end of the file.
    //! Throws TableError on a malformed row (unterminated quote, stray quote, too large).
    bool ReadRow(std::vector<std::string>& cells);

    //! Index of the column named `name`; throws TableError "Can't find a column named " + name.
    size_t ColumnIndex(const std::string& name) const;

    //! Name of column `index`, or its 1-based number as text when the header has no such column.
    std::string ColumnName(size_t index) const;

    const std::vector<std::string>& Header() const { return header_; }
    char Delimiter() const { return delimiter_; }
    const std::string& Path() const { return path_; }
    //! Row number of the row last returned (the header is 1).
    int RowNumber() const { return row_number_; }

private:
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    struct ParserDeleter {
        void operator()(csv_parser* p) const;
    };

    static void OnCell(void* data, size_t len, void* self);
    static void OnRowEnd(int terminator, void* self);
    static char DetectDelimiter(const std::string& head);
    bool FillRows();
    [[noreturn]] void Fail(const std::string& reason) const;

    std::string path_;
    std::unique_ptr<FILE, FileCloser> file_;
    std::unique_ptr<csv_parser, ParserDeleter> parser_;
    std::unique_ptr<char[]> chunk_;  // read buffer, kChunkBytes
    char delimiter_ = ',';
    std::vector<std::string> header_;
    std::unordered_map<std::string, size_t> columns_;
    std::vector<std::string> pending_row_;       // cells of the row libcsv is in the middle of
    std::deque<std::vector<std::string>> rows_;  // complete rows not handed out yet
    size_t bytes_read_ = 0;
    // A fault found while parsing ahead; raised once the rows before it are handed out. The column
    // is kept as an index because the header may not be known yet when the fault is found.
    struct PendingError {
        int row;
        size_t column;  // kNoColumn when the fault is not in one cell
        std::string reason;
    };
    static constexpr size_t kNoColumn = static_cast<size_t>(-1);
    void SetError(size_t column, const std::string& reason);
    std::unique_ptr<PendingError> error_;
    bool at_end_ = false;
    bool too_wide_ = false;
    int row_number_ = 0;      // last row handed out
    int rows_completed_ = 0;  // rows libcsv has finished, header included
};
