#pragma once
// What the desktop remembers of a person's work between sessions, kept per
// user in the desktop's settings: the last export, the import's folder and
// the screens' parameter sets. The screens themselves always open fresh.
#include <QSettings>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <string>

// A screen's fields as a person filled them: control name, text.
using FieldValues = std::map<std::string, std::string>;

class DesktopSettings {
public:
    // The user's settings file; tests point QSettings elsewhere first.
    DesktopSettings();
    ~DesktopSettings();

    QString ExportFormat() const;  // "xlsx" before the first export
    QString ExportFolder() const;  // empty before the first export
    bool OpenAfterExport() const;
    void RememberExport(const QString &format, const QString &folder, bool openAfter);

    QString ImportFolder() const;
    void RememberImportFolder(const QString &folder);

    // The parameters of a screen's last run, and named sets of them.
    std::optional<FieldValues> LastRun(const QString &screen) const;
    void RememberRun(const QString &screen, const FieldValues &fields);
    QStringList ParameterSetNames(const QString &screen) const;
    std::optional<FieldValues> ParameterSet(const QString &screen, const QString &name) const;
    void SaveParameterSet(const QString &screen, const QString &name, const FieldValues &fields);
    void RemoveParameterSet(const QString &screen, const QString &name);

private:
    std::optional<FieldValues> ReadFields(const QString &group) const;
    void WriteFields(const QString &group, const FieldValues &fields);

    std::unique_ptr<QSettings> settings_;
};
