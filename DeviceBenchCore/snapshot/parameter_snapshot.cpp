#include "DeviceBenchCore/snapshot/parameter_snapshot.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cctype>

#include "libkrell/Frame/hex_text.h"

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonObject EntryObject(const SnapshotEntry& entry) {
    QJsonObject object;
    object["id"] = Q(entry.var_id);
    object["name"] = Q(entry.name);
    object["text"] = Q(entry.text);
    object["bytes"] = Q(SnapshotHex(entry.bytes));
    return object;
}

bool ParseEntry(const QJsonValue& value, int index, SnapshotEntry& entry, std::string& error) {
    const std::string where = "variable " + std::to_string(index + 1);
    if (!value.isObject()) {
        error = where + " is not an object";
        return false;
    }
    const QJsonObject object = value.toObject();
    for (const char* key : {"id", "name", "text", "bytes"}) {
        if (!object.value(key).isString()) {
            error = where + " has no text \"" + key + "\"";
            return false;
        }
    }
    entry.var_id = object.value("id").toString().toStdString();
    entry.name = object.value("name").toString().toStdString();
    entry.text = object.value("text").toString().toStdString();
    if (entry.var_id.empty() || entry.name.empty()) {
        error = where + " has an empty id or name";
        return false;
    }
    if (!SnapshotBytes(object.value("bytes").toString().toStdString(), entry.bytes)) {
        error = where + " (" + entry.name + ") has bytes that are not hexadecimal pairs";
        return false;
    }
    return true;
}

}  // namespace

std::string SnapshotHex(const std::vector<uint8_t>& bytes) {
    return krell::lidar::ToHexDigits(bytes);
}

bool SnapshotBytes(const std::string& hex, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return true;
}

const SnapshotEntry* ParameterSnapshot::Find(const std::string& var_id) const {
    for (const SnapshotEntry& entry : entries) {
        if (entry.var_id == var_id) return &entry;
    }
    return nullptr;
}

const SnapshotEntry* ParameterSnapshot::FindByName(const std::string& name) const {
    for (const SnapshotEntry& entry : entries) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

std::string ParameterSnapshot::ToJson() const {
    QJsonObject root;
    root["format"] = kFormat;
    root["format_version"] = kFormatVersion;
    root["model"] = Q(model);
    root["pn"] = Q(pn);
    root["sn"] = Q(sn);
    root["taken_at"] = Q(taken_at);
    QJsonArray variables;
    for (const SnapshotEntry& entry : entries)
        variables.append(EntryObject(entry));
    root["variables"] = variables;
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool ParameterSnapshot::FromJson(const std::string& text, ParameterSnapshot& out,
                                 std::string& error) {
    QJsonParseError parse_error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(text), &parse_error);
    if (document.isNull()) {
        error = "it is not JSON (" + parse_error.errorString().toStdString() + " at byte " +
                std::to_string(parse_error.offset) + ")";
        return false;
    }
    const QJsonObject root = document.object();
    if (root.value("format").toString() != kFormat) {
        error = "it is not a parameter snapshot (no \"format\": \"" + std::string(kFormat) + "\")";
        return false;
    }
    if (root.value("format_version").toInt(-1) != kFormatVersion) {
        error = "its format version is not " + std::to_string(kFormatVersion);
        return false;
    }
    ParameterSnapshot snapshot;
    snapshot.model = root.value("model").toString().toStdString();
    snapshot.pn = root.value("pn").toString().toStdString();
    snapshot.sn = root.value("sn").toString().toStdString();
    snapshot.taken_at = root.value("taken_at").toString().toStdString();
    if (snapshot.model.empty()) {
        error = "it names no model";
        return false;
    }
    if (!root.value("variables").isArray()) {
        error = "it has no list \"variables\"";
        return false;
    }
    const QJsonArray variables = root.value("variables").toArray();
    for (int i = 0; i < variables.size(); ++i) {
        SnapshotEntry entry;
        if (!ParseEntry(variables.at(i), i, entry, error)) return false;
        snapshot.entries.push_back(std::move(entry));
    }
    out = std::move(snapshot);
    return true;
}

bool ParameterSnapshot::Save(const std::string& path, std::string& error) const {
    QSaveFile file(Q(path));
    const std::string json = ToJson();
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(json.data(), static_cast<qint64>(json.size())) !=
            static_cast<qint64>(json.size()) ||
        !file.commit()) {
        error = "cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

bool ParameterSnapshot::Load(const std::string& path, ParameterSnapshot& out, std::string& error) {
    QFile file(Q(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot read " + path + ": " + file.errorString().toStdString();
        return false;
    }
    std::string why;
    if (!FromJson(file.readAll().toStdString(), out, why)) {
        error = path + " is not a usable snapshot: " + why;
        return false;
    }
    return true;
}

std::string ParameterSnapshot::NowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}
