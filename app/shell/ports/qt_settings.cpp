#include "app/shell/ports/qt_settings.h"

namespace kova::shell {
namespace {

const QString sizeSuffix = QStringLiteral("/size");
const QString itemKey = QStringLiteral("value");

QString keyOf(const std::string& key) {
    return QString::fromStdString(key);
}

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    strings.reserve(list.size());
    for (const QString& item : list) {
        strings.push_back(item.toStdString());
    }
    return strings;
}

std::vector<std::string> readArray(QSettings& settings, const QString& key) {
    std::vector<std::string> strings;
    const int size = settings.beginReadArray(key);
    for (int index = 0; index < size; ++index) {
        settings.setArrayIndex(index);
        strings.push_back(settings.value(itemKey).toString().toStdString());
    }
    settings.endArray();
    return strings;
}

SettingValue fromVariant(const QVariant& stored) {
    if (stored.typeId() == QMetaType::Bool) {
        return stored.toBool();
    }
    if (stored.typeId() == QMetaType::QStringList) {
        return toStrings(stored.toStringList());
    }
    const QString text = stored.toString();
    if (text == QLatin1String("true") || text == QLatin1String("false")) {
        return text == QLatin1String("true");
    }
    return text.toStdString();
}

struct Writer {
    QSettings& settings;
    const QString& key;

    void operator()(bool on) const { settings.setValue(key, on); }
    void operator()(const std::string& text) const {
        settings.setValue(key, QString::fromStdString(text));
    }
    void operator()(const std::vector<std::string>& strings) const {
        settings.beginWriteArray(key, int(strings.size()));
        for (std::size_t index = 0; index < strings.size(); ++index) {
            settings.setArrayIndex(int(index));
            settings.setValue(itemKey, QString::fromStdString(strings[index]));
        }
        settings.endArray();
    }
};

}  // namespace

QtSettings::QtSettings()
    : settings_(std::make_unique<QSettings>(QSettings::UserScope, QStringLiteral("KOVA"),
                                            QStringLiteral("KOVA Connect"))) {}

QtSettings::QtSettings(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

std::optional<SettingValue> QtSettings::value(const std::string& key) const {
    const QString name = keyOf(key);
    if (settings_->contains(name + sizeSuffix)) {
        return readArray(*settings_, name);
    }
    if (!settings_->contains(name)) {
        return std::nullopt;
    }
    return fromVariant(settings_->value(name));
}

void QtSettings::setValue(const std::string& key, const SettingValue& value) {
    const QString name = keyOf(key);
    settings_->remove(name);
    std::visit(Writer{*settings_, name}, value);
    settings_->sync();
}

void QtSettings::remove(const std::string& key) {
    settings_->remove(keyOf(key));
    settings_->sync();
}

}  // namespace kova::shell
