#include "DeviceBenchCore/table/table_error.h"

namespace {

std::string Compose(const std::string& file, int row, const std::string& column,
                    const std::string& reason) {
    std::string text = file + ": row " + std::to_string(row);
    if (!column.empty()) text += ", column " + column;
    return text + ": " + reason;
}

}  // namespace

TableError::TableError(const std::string& file, int row, const std::string& column,
                       const std::string& reason)
    : std::runtime_error(Compose(file, row, column, reason)),
      file_(file),
      row_(row),
      column_(column),
      reason_(reason) {}
