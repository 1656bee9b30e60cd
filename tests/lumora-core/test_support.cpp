#include "test_support.h"

#include <QFile>

#include <fstream>
#include <sstream>

#include "scribe/logger.h"

namespace lumora_test {

QString homeDir() {
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

std::string readScribeLog() {
    Logger::GetInstance().Flush();
    std::ifstream in(qgetenv("SCRIBE_LOG_FILE").toStdString());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

QString writeFile(const QString& name, const QByteArray& content) {
    const QString path = homeDir() + QLatin1Char('/') + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
    return path;
}

int countOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace lumora_test
