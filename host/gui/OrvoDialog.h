// COrvoDialog: the host's dialog base. Beyond CDialog it keeps chosen controls anchored to the right and
// bottom edges when the window is resized, and shows an optional note line at the bottom left.
#pragma once

#include "platform/Dialog.h"

#include <vector>

class QLabel;

class COrvoDialog : public CDialog {
public:
    // Alignment codes of SetItemAlign: bits that keep a control's distance to the right / bottom edge.
    static constexpr int kAlignRight = 1;
    static constexpr int kAlignBottom = 2;
    static constexpr int kAlignBottomRight = kAlignRight | kAlignBottom;

    explicit COrvoDialog(UINT templateId, CWnd* parent = nullptr);
    ~COrvoDialog() override;

    // The note line: hidden when switched off or when it has no text.
    void SetNoteVisible(BOOL visible);
    BOOL GetNoteVisible() const { return m_bNoteVisible; }
    void SetNote(LPCTSTR text);
    // Keeps the control's distances to the edges named by align (see the codes above) as they are now.
    // Code 0 releases the control.
    void SetItemAlign(int controlId, int align);

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    int OnCreate(LPCREATESTRUCT createStruct);
    void OnSize(UINT type, int cx, int cy);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    void OnDestroy();
    DECLARE_MESSAGE_MAP()

private:
    struct AlignedItem {
        int id;
        int align;
        int rightGap;
        int bottomGap;
    };
    void LayOutAlignedItems(int cx, int cy);
    void LayOutNote();

    std::vector<AlignedItem> m_alignedItems;
    QLabel* m_pNote = nullptr;
    CString m_strNote;
    BOOL m_bNoteVisible = TRUE;
};
