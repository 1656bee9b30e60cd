#include "DeviceBenchCore/ipv4_parser.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

std::vector<uint8_t> IPv4Parser::Parse(const std::string& text, float) {
  const QStringList pieces = QString::fromStdString(text).split('.', Qt::SkipEmptyParts);
  if (pieces.size() != 4) throw std::invalid_argument("IPv4Parser: ip address, wrong format.");
  std::vector<uint8_t> bytes;
  for (const QString& piece : pieces) {
    bool ok = false;
    const int value = piece.toInt(&ok, 10);
    if (!ok || value < 0 || value > 255) {
      throw std::invalid_argument("IPv4Parser: contains an illegal number");
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}
