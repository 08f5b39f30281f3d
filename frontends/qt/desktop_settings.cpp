#include "desktop_settings.h"

namespace {
const QString kLastRun = QStringLiteral("ultima-execucao");

// A group name from a person's text: QSettings would take '/' and '\' for
// levels, so everything but letters and digits is escaped.
QString Key(const QString &text) { return QString::fromLatin1(text.toUtf8().toPercentEncoding(" ")); }
QString FromKey(const QString &key) { return QString::fromUtf8(QByteArray::fromPercentEncoding(key.toLatin1())); }
} // namespace

DesktopSettings::DesktopSettings()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("fiscal"),
                                            QStringLiteral("fishost-qt")))
{
}

DesktopSettings::~DesktopSettings() = default;

QString DesktopSettings::ExportFormat() const
{
    const QString f = settings_->value(QStringLiteral("exportar/formato")).toString();
    return f == QLatin1String("csv") || f == QLatin1String("pdf") || f == QLatin1String("xlsx") ? f
                                                                                                 : QStringLiteral("xlsx");
}

QString DesktopSettings::ExportFolder() const { return settings_->value(QStringLiteral("exportar/pasta")).toString(); }

bool DesktopSettings::OpenAfterExport() const
{
    return settings_->value(QStringLiteral("exportar/abrir"), false).toBool();
}

void DesktopSettings::RememberExport(const QString &format, const QString &folder, bool openAfter)
{
    settings_->setValue(QStringLiteral("exportar/formato"), format);
    settings_->setValue(QStringLiteral("exportar/pasta"), folder);
    settings_->setValue(QStringLiteral("exportar/abrir"), openAfter);
    settings_->sync();
}

QString DesktopSettings::ImportFolder() const { return settings_->value(QStringLiteral("importar/pasta")).toString(); }

void DesktopSettings::RememberImportFolder(const QString &folder)
{
    settings_->setValue(QStringLiteral("importar/pasta"), folder);
    settings_->sync();
}

std::optional<FieldValues> DesktopSettings::ReadFields(const QString &group) const
{
    settings_->beginGroup(group);
    const QStringList keys = settings_->childKeys();
    settings_->endGroup();
    if (keys.isEmpty())
        return std::nullopt;
    FieldValues fields;
    for (const QString &k : keys)
        fields[k.toStdString()] = settings_->value(group + QLatin1Char('/') + k).toString().toStdString();
    return fields;
}

void DesktopSettings::WriteFields(const QString &group, const FieldValues &fields)
{
    settings_->remove(group);
    for (const auto &[name, text] : fields)
        settings_->setValue(group + QLatin1Char('/') + QString::fromStdString(name), QString::fromStdString(text));
    settings_->sync();
}

std::optional<FieldValues> DesktopSettings::LastRun(const QString &screen) const
{
    return ReadFields(Key(screen) + QLatin1Char('/') + kLastRun);
}

void DesktopSettings::RememberRun(const QString &screen, const FieldValues &fields)
{
    WriteFields(Key(screen) + QLatin1Char('/') + kLastRun, fields);
}

QStringList DesktopSettings::ParameterSetNames(const QString &screen) const
{
    settings_->beginGroup(Key(screen) + QStringLiteral("/conjuntos"));
    QStringList names;
    for (const QString &g : settings_->childGroups())
        names << FromKey(g);
    settings_->endGroup();
    names.sort(Qt::CaseInsensitive);
    return names;
}

std::optional<FieldValues> DesktopSettings::ParameterSet(const QString &screen, const QString &name) const
{
    return ReadFields(Key(screen) + QStringLiteral("/conjuntos/") + Key(name));
}

void DesktopSettings::SaveParameterSet(const QString &screen, const QString &name, const FieldValues &fields)
{
    WriteFields(Key(screen) + QStringLiteral("/conjuntos/") + Key(name), fields);
}

void DesktopSettings::RemoveParameterSet(const QString &screen, const QString &name)
{
    settings_->remove(Key(screen) + QStringLiteral("/conjuntos/") + Key(name));
    settings_->sync();
}
