#pragma once
// What a fleet wrote to its report (--report FILE): one JSON object a line.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonObject>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>
#include <QVariant>

#include <map>

namespace halvern::test {

// The lines by port; the fleet's own line (its questions) under "".
inline std::map<QString, QJsonObject> report_by_port(const QString& path) {
    std::map<QString, QJsonObject> by_port;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty()) {
            const QJsonObject json = QJsonDocument::fromJson(line).object();
            by_port[json.value("port").toString()] = json;
        }
    return by_port;
}

inline QStringList messages_of(const QJsonObject& line) { return line.value("messages").toVariant().toStringList(); }

}  // namespace halvern::test
