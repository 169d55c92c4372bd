#include "platform/Dialog.h"

#include "platform/DialogBuilder.h"
#include "platform/ModalLoop.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QPushButton>
#include <QWidget>

namespace {

// Activates a window at once, so that the focus is where Win32 code expects it as soon as the dialog
// runs (the window system's own activation arrives later, or never on the offscreen platform).
void activateNow(QWidget* window) {
    window->activateWindow();
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QApplication::setActiveWindow(window);
    QT_WARNING_POP
}

} // namespace

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.GetSafeHwnd() || !dx || !dx->m_pDlgWnd)
        return;
    if (!control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd))
        qWarning("DDX_Control: dialog has no free control %d to bind", id);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
ON_WM_CLOSE()
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    if (m_pLoop)
        m_pLoop->Exit();
    if (m_hWnd)
        DestroyWindow();
}

BOOL CDialog::CreateFromTemplate(QWidget* parentWidget, bool modal) {
    const std::optional<DialogTemplate> found = orvo::FindDialogTemplate(m_nIDTemplate);
    if (!found) {
        qWarning("dialog template %u is not registered", m_nIDTemplate);
        return FALSE;
    }
    m_nModalResult = -1;
    m_bEnded = false;
    QWidget* widget = orvo::CreateDialogWindow(*found, parentWidget);
    if (modal)
        widget->setWindowModality(Qt::ApplicationModal);
    SubclassWindow(widget);
    m_bOwnsWindow = true;

    CREATESTRUCT cs;
    cs.hwndParent = parentWidget;
    cs.cx = widget->width();
    cs.cy = widget->height();
    cs.style = found->style;
    if (SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow();
        return FALSE;
    }
    orvo::CreateDialogControls(*found, widget);
    if (OnInitDialog())
        FocusFirstTabStop();
    return m_hWnd != nullptr;
}

void CDialog::FocusFirstTabStop() {
    if (!m_hWnd)
        return;
    for (QWidget* child : m_hWnd->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const DWORD style = child->property(orvo::kPropStyle).toUInt();
        if ((style & WS_TABSTOP) && !child->isHidden() && child->isEnabled()) {
            child->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

INT_PTR CDialog::DoModal() {
    QWidget* parentWidget = nullptr;
    if (m_pParentWnd && m_pParentWnd->GetSafeHwnd())
        parentWidget = m_pParentWnd->GetSafeHwnd()->window();
    else if (QApplication::activeModalWidget())
        parentWidget = QApplication::activeModalWidget();
    else
        parentWidget = QApplication::activeWindow();
    if (!CreateFromTemplate(parentWidget, true))
        return -1;
    if (!m_bEnded && m_hWnd) {
        if (m_hWnd->isHidden())
            m_hWnd->show();
        activateNow(m_hWnd);
        orvo::ModalLoop loop(m_hWnd);
        m_pLoop = &loop;
        if (!m_bEnded)
            loop.Run();
        m_pLoop = nullptr;
    }
    const int result = m_nModalResult;
    if (m_hWnd) {
        m_hWnd->hide();
        DestroyWindow();
    }
    if (parentWidget && parentWidget->isVisible())
        activateNow(parentWidget);
    return result;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (m_hWnd)
        return FALSE;
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    QWidget* parentWidget = parent && parent->GetSafeHwnd() ? parent->GetSafeHwnd()->window() : nullptr;
    if (!CreateFromTemplate(parentWidget, false))
        return FALSE;
    const std::optional<DialogTemplate> found = orvo::FindDialogTemplate(m_nIDTemplate);
    if (m_hWnd && found && (found->style & WS_VISIBLE))
        m_hWnd->show();
    return TRUE;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    m_bEnded = true;
    if (m_pLoop)
        m_pLoop->Exit();
    else if (m_hWnd && !m_hWnd->isModal())
        m_hWnd->hide(); // a modeless dialog ends hidden; its owner destroys it
}

bool CDialog::IsModalRunning() const {
    return m_pLoop && m_pLoop->IsRunning();
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnClose() {
    SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

int CDialog::GetDefaultButtonId() const {
    if (!m_hWnd)
        return 0;
    if (m_nDefId)
        return static_cast<int>(m_nDefId);
    int okId = 0;
    for (QWidget* child : m_hWnd->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!qobject_cast<QPushButton*>(child))
            continue;
        const int id = child->property(orvo::kPropId).toInt();
        if ((child->property(orvo::kPropStyle).toUInt() & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
        if (id == IDOK)
            okId = id;
    }
    return okId;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (!m_hWnd || msg->message != WM_KEYDOWN || !msg->hwnd || msg->hwnd->window() != m_hWnd)
        return FALSE;
    if (msg->wParam == VK_ESCAPE) {
        // As IsDialogMessage: a disabled Cancel button turns Escape off.
        CWnd* cancel = GetDlgItem(IDCANCEL);
        if (cancel && !cancel->IsWindowEnabled())
            return TRUE;
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(cancel ? cancel->m_hWnd : nullptr));
        return TRUE;
    }
    if (msg->wParam == VK_RETURN) {
        // The focused push button, else the default one. A dialog without either leaves Enter to the
        // control (a window that has no OK button is not closed by Enter).
        QWidget* target = nullptr;
        if (qobject_cast<QPushButton*>(msg->hwnd) && orvo::ParentWindowOf(msg->hwnd) == m_hWnd)
            target = msg->hwnd;
        else if (const int id = GetDefaultButtonId(); id != 0)
            if (CWnd* button = GetDlgItem(id))
                target = button->m_hWnd;
        if (!target)
            return FALSE;
        if (target->isEnabled() && target->isVisible())
            SendMessage(WM_COMMAND,
                        MAKEWPARAM(static_cast<WORD>(target->property(orvo::kPropId).toInt()), BN_CLICKED),
                        reinterpret_cast<LPARAM>(target));
        return TRUE;
    }
    return FALSE;
}
