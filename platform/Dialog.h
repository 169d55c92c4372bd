// CDialog: a window built from a dialog template, run modally (DoModal) or modeless (Create). Dialog
// keys as Win32 gives them: Escape sends IDCANCEL, Enter presses the focused push button or else the
// default button (a BS_DEFPUSHBUTTON, or the IDOK button); closing the window is IDCANCEL.
#pragma once

#include "platform/Wnd.h"

#include <memory>

class CDialog;

class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds a member control to the dialog's control with that ID (subclassing it) the first time.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

namespace orvo {
class ModalLoop;
}

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds the window, runs it until EndDialog and destroys it: the value given to EndDialog (IDOK,
    // IDCANCEL), or -1 when the template is missing or WM_CREATE failed.
    using CWnd::Create;
    virtual INT_PTR DoModal();
    // Modeless: builds and initialises the window; shown when the template or OnInitDialog says so.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    BOOL PreTranslateMessage(MSG* msg) override;

    UINT GetTemplateId() const { return m_nIDTemplate; }
    // The ID of the button Enter presses: DM_GETDEFID without a set default, 0 when there is none.
    int GetDefaultButtonId() const;
    void SetDefID(UINT id) { m_nDefId = id; }
    bool IsModalRunning() const;
    int GetModalResult() const { return m_nModalResult; }

protected:
    virtual void DoDataExchange(CDataExchange* dx);
    void OnClose();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateFromTemplate(QWidget* parentWidget, bool modal);
    void FocusFirstTabStop();

    int m_nModalResult = -1;
    bool m_bEnded = false;
    UINT m_nDefId = 0;
    orvo::ModalLoop* m_pLoop = nullptr;
};
