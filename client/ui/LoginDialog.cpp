#include "client/ui/LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

LoginDialog::LoginDialog(const QString& server, const QString& operatorName, QWidget* parent)
    : QDialog(parent), m_operator(new QLineEdit(operatorName, this)), m_password(new QLineEdit(this)),
      m_error(new QLabel(this)) {
    setWindowTitle(tr("Log in to the counter"));
    m_password->setEchoMode(QLineEdit::Password);
    m_error->setStyleSheet("color: #b00020");
    m_error->setWordWrap(true);
    m_error->hide();

    auto* form = new QFormLayout;
    form->addRow(tr("Server:"), new QLabel(server, this));
    form->addRow(tr("&Operator:"), m_operator);
    form->addRow(tr("&Password:"), m_password);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("&Log in"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    m_okButton = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_operator, &QLineEdit::textChanged, this, [this] { updateButtons(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);
    (operatorName.isEmpty() ? m_operator : m_password)->setFocus();
    updateButtons();
}

QString LoginDialog::OperatorName() const {
    return m_operator->text().trimmed();
}

QString LoginDialog::Password() const {
    return m_password->text();
}

void LoginDialog::ShowError(const QString& text) {
    m_error->setText(text);
    m_error->show();
    m_password->clear();
    m_password->setFocus();
}

void LoginDialog::ShowBusy() {
    m_error->setText(tr("server busy, retrying"));
    m_error->show();
}

void LoginDialog::updateButtons() {
    m_okButton->setEnabled(!OperatorName().isEmpty());
}
