#include "Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

void TQtPrompts::ShowMessage(const QString& Text)
{
    QMessageBox::information(FParent, QApplication::applicationName(), Text);
}

void TQtPrompts::ShowError(const QString& Text)
{
    QMessageBox::critical(FParent, QApplication::applicationName(), Text);
}

TPrompts::TAnswer TQtPrompts::AskYesNoCancel(const QString& Text)
{
    // Qt's standard buttons speak the user's language (InstallQtTranslations).
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), Text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, FParent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TAnswer::Yes;
    case QMessageBox::No:
        return TAnswer::No;
    default:
        return TAnswer::Cancel;
    }
}

bool InstallQtTranslations(const QLocale& Locale)
{
    // One translator at a time: a new locale replaces the last one's texts.
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(Locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
    return true;
}

QString QtFileFilter(const QString& PipeFilter)
{
    const QStringList parts = PipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return filters.join(QStringLiteral(";;"));
}

QString TQtPrompts::SaveFileName(const QString& InitialDir, const QString& DefaultExt,
                                 const QString& Filter)
{
    QFileDialog dialog(FParent, QString(), InitialDir, QtFileFilter(Filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(DefaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TQtPrompts::OpenFileName(const QString& InitialDir, const QString& DefaultExt,
                                 const QString& Filter)
{
    QFileDialog dialog(FParent, QString(), InitialDir, QtFileFilter(Filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(DefaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TQtPrompts::FolderName(const QString& InitialDir)
{
    return QFileDialog::getExistingDirectory(FParent, QString(), InitialDir);
}

std::optional<double> TQtPrompts::AskNumber(const QString& Label, double Value, int Decimals)
{
    bool ok = false;
    // Wide enough for any level and any frequency with an offset.
    const double number = QInputDialog::getDouble(FParent, QApplication::applicationName(), Label,
                                                  Value, -1e6, 1e6, Decimals, &ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

void TQtPrompts::ShowInformation(const QString& Title, const QString& Text)
{
    QMessageBox::information(FParent, Title, Text);
}

void TQtPrompts::ShowWarning(const QString& Text)
{
    // Not modal: a sync loop runs on while the box is open.
    auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(), Text,
                                QMessageBox::Ok, FParent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
