#include "Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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
    QMessageBox box(QMessageBox::Question, QString::fromUtf8("Bestätigung"), Text,
                    QMessageBox::NoButton, FParent);
    QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return TAnswer::Yes;
    if (box.clickedButton() == no)
        return TAnswer::No;
    return TAnswer::Cancel;
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
