#include "DeviceBenchCore/mac_parser.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

std::vector<uint8_t> MacParser::Parse(const std::string& text, float) {
  const QStringList pieces = QString::fromStdString(text).split(':', Qt::SkipEmptyParts);
  if (pieces.size() != 6) throw std::invalid_argument("MacParser: ip address, wrong format.");
  std::vector<uint8_t> bytes;
  for (const QString& piece : pieces) {
    bool ok = false;
    const int value = piece.toInt(&ok, 16);
    if (!ok || value < 0 || value > 255) {
      throw std::invalid_argument("MacParser: contains an illegal number");
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}
