#pragma once
// Writes variable tables into a private temporary folder for one test and removes it afterwards.

#include <map>
#include <string>
#include <vector>

class TableFixture {
public:
    TableFixture();
    ~TableFixture();
    TableFixture(const TableFixture&) = delete;
    TableFixture& operator=(const TableFixture&) = delete;

    //! One CSV line in header order from column name -> cell; absent columns are empty. Cells that
    //! hold the delimiter, a quote or a line feed are quoted.
    static std::string Row(const std::map<std::string, std::string>& cells, char delimiter = ',');
    //! A page row: "0" then the tab name and its section names.
    static std::string PageRow(const std::vector<std::string>& names, char delimiter = ',');
    //! The full header line.
    static std::string Header(char delimiter = ',');

    //! Writes header + rows (joined by line feeds) to `name` in the folder; returns the path.
    std::string Write(const std::string& name, const std::vector<std::string>& rows,
                      char delimiter = ',');
    //! Writes `content` verbatim; returns the path.
    std::string WriteRaw(const std::string& name, const std::string& content);
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
};
