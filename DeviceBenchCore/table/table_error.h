#pragma once
// TableError: a variable table that cannot be read on. Names the file, the row (1-based, the
// header is row 1) and the column (empty when the fault is not in one cell).

#include <stdexcept>
#include <string>

class TableError : public std::runtime_error {
public:
    //! what() reads "<file>: row <row>, column <column>: <reason>"; the parts stay available.
    TableError(const std::string& file, int row, const std::string& column,
               const std::string& reason);

    //! The fault alone, e.g. "Can't find a column named Set" or "invalid stoi argument".
    const std::string& reason() const { return reason_; }
    const std::string& file() const { return file_; }
    int row() const { return row_; }
    const std::string& column() const { return column_; }

private:
    std::string file_;
    int row_;
    std::string column_;
    std::string reason_;
};
