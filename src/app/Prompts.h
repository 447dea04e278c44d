#pragma once

#include <QString>
#include <optional>

class QLocale;
class QWidget;

// Every modal interaction of the main window goes through this interface, so that
// tests can script the answers and read the texts.
class TPrompts
{
public:
    enum class TAnswer { Yes, No, Cancel };

    virtual ~TPrompts() = default;

    // A plain message box with an OK button (start-up failures).
    virtual void ShowMessage(const QString& Text) = 0;
    // The application's default error box for run-time errors.
    virtual void ShowError(const QString& Text) = 0;
    // A confirmation with Yes, No and Cancel; closing the box counts as Cancel.
    virtual TAnswer AskYesNoCancel(const QString& Text) = 0;
    // File dialogs; an empty result means cancelled.
    virtual QString SaveFileName(const QString& InitialDir, const QString& DefaultExt,
                                 const QString& Filter) = 0;
    virtual QString OpenFileName(const QString& InitialDir, const QString& DefaultExt,
                                 const QString& Filter) = 0;
    // A folder to pick; empty means cancelled.
    virtual QString FolderName(const QString& InitialDir) = 0;
    // A number to type with Decimals decimals, starting from Value; none when cancelled.
    virtual std::optional<double> AskNumber(const QString& Label, double Value, int Decimals) = 0;
    // An information box with one OK button.
    virtual void ShowInformation(const QString& Title, const QString& Text) = 0;
    // A warning that must not hold up the acquisition (a recording fills the disk): the
    // window goes on while it is shown. Without a box of its own, a plain message.
    virtual void ShowWarning(const QString& Text) { ShowMessage(Text); }
};

// The real prompts: Qt dialogs over the given parent window.
class TQtPrompts : public TPrompts
{
public:
    explicit TQtPrompts(QWidget* Parent = nullptr) : FParent(Parent) {}
    void setParent(QWidget* Parent) { FParent = Parent; }

    void ShowMessage(const QString& Text) override;
    void ShowError(const QString& Text) override;
    TAnswer AskYesNoCancel(const QString& Text) override;
    QString SaveFileName(const QString& InitialDir, const QString& DefaultExt,
                         const QString& Filter) override;
    QString OpenFileName(const QString& InitialDir, const QString& DefaultExt,
                         const QString& Filter) override;
    QString FolderName(const QString& InitialDir) override;
    std::optional<double> AskNumber(const QString& Label, double Value, int Decimals) override;
    void ShowInformation(const QString& Title, const QString& Text) override;
    void ShowWarning(const QString& Text) override;

private:
    QWidget* FParent;
};

// The file-dialog filter in Qt's notation ("Spectral Data (*.spk);;...") from the
// "Name|pattern|Name|pattern" notation the window uses.
QString QtFileFilter(const QString& PipeFilter);

// Loads Qt's own translations for Locale (buttons, dialogs), replacing those loaded before;
// false, with Qt's English texts, where there are none (the C locale, English).
bool InstallQtTranslations(const QLocale& Locale);
