// Asks for the operator and the password. The password lives in the dialog only until it is read.
#pragma once

#include <QCoreApplication>

#include <QDialog>

class QLabel;
class QLineEdit;

class LoginDialog : public QDialog {
    // Its texts go under its own name in the translations.
    Q_DECLARE_TR_FUNCTIONS(LoginDialog)

public:
    LoginDialog(const QString& server, const QString& operatorName, QWidget* parent = nullptr);

    QString OperatorName() const;
    QString Password() const;
    // Shows why the last attempt failed and clears the password for the next one.
    void ShowError(const QString& text);
    // "server busy, retrying", while the login waits for a busy server.
    void ShowBusy();

private:
    void updateButtons();

    QLineEdit* m_operator;
    QLineEdit* m_password;
    QLabel* m_error;
    QWidget* m_okButton = nullptr;
};
