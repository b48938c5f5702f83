// The dialog framework against real dialog windows built from the program's
// own templates: message-map routing, default processing, the default OK and
// Cancel, control binding, and modal runs on another thread.
#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/resources/resource.h"

namespace {

const UINT s_testRegistered = ::RegisterWindowMessageW(L"OrlivanDialogTestMessage");
constexpr UINT WM_TEST_SUM = WM_APP + 1;

// A dialog on the hidden main template whose OnInitDialog runs a test script.
class ScriptedDialog : public CDialog {
public:
    ScriptedDialog() : CDialog(IDD_ORLIVANSYSTRAY_DIALOG) {}

    std::function<void(ScriptedDialog&)> script;
    std::vector<std::string> calls;
    HICON dragIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (script) {
            script(*this);
        }
        return TRUE;
    }

protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnCommand<&ScriptedDialog::OnSettings>(ID_SETTINGS),
            OnMessage<&ScriptedDialog::OnSum>(WM_TEST_SUM),
            OnRegisteredMessage<&ScriptedDialog::OnRegistered>(s_testRegistered),
            OnMessage<&ScriptedDialog::OnQueryDragIcon>(WM_QUERYDRAGICON),
        };
        static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
        return &map;
    }

    void OnSettings() { calls.push_back("settings"); }
    LRESULT OnSum(WPARAM wParam, LPARAM lParam) {
        calls.push_back("sum");
        return static_cast<LRESULT>(wParam) + lParam;
    }
    LRESULT OnRegistered(WPARAM, LPARAM) {
        calls.push_back("registered");
        return 0;
    }
    HCURSOR OnQueryDragIcon() { return dragIcon; }
};

// Overrides one command of its base and OK; the base's other entries still work.
class DerivedDialog : public ScriptedDialog {
public:
    void OnOK() override {
        calls.push_back("derived ok");
        EndDialog(77);
    }

protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnCommand<&DerivedDialog::OnDerivedSettings>(ID_SETTINGS),
        };
        static const MessageMap map = MakeMessageMap(ScriptedDialog::GetMessageMap(), entries);
        return &map;
    }

    void OnDerivedSettings() { calls.push_back("derived settings"); }
};

LRESULT Command(CDialog& dialog, UINT id, UINT code = BN_CLICKED) {
    return ::SendMessageW(dialog.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, code), 0);
}

}  // namespace

TEST(DialogMessageMap, RoutesMessagesCommandsAndResults) {
    ScriptedDialog dialog;
    LRESULT sum = 0;
    LRESULT dragIcon = 0;
    dialog.script = [&](ScriptedDialog& d) {
        Command(d, ID_SETTINGS);
        Command(d, ID_SETTINGS, 1);  // same ID from an accelerator: no entry for that code
        Command(d, ID_ABOUT);        // no entry at all
        sum = d.SendMessage(WM_TEST_SUM, 40, 2);
        d.SendMessage(s_testRegistered);
        dragIcon = d.SendMessage(WM_QUERYDRAGICON);
        Command(d, IDOK);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"settings", "sum", "registered"}));
    EXPECT_EQ(sum, 42);
    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(dialog.dragIcon));
}

TEST(DialogMessageMap, UnhandledMessagesGetTheDialogManagersDefault) {
    ScriptedDialog dialog;
    std::wstring caption;
    LRESULT defaultButton = 0;
    dialog.script = [&](ScriptedDialog& d) {
        caption = d.GetWindowText();
        d.SetWindowText(L"Changed");
        caption += L"|" + d.GetWindowText();
        defaultButton = d.SendMessage(DM_GETDEFID);
        Command(d, IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(caption, L"OrlivanSysTray|Changed");
    EXPECT_EQ(LOWORD(defaultButton), IDOK);
    EXPECT_EQ(HIWORD(defaultButton), DC_HASDEFID);
}

TEST(DialogMessageMap, DerivedEntriesAndOverridesComeFirst) {
    DerivedDialog dialog;
    LRESULT sum = 0;
    dialog.script = [&](ScriptedDialog& d) {
        Command(d, ID_SETTINGS);
        sum = d.SendMessage(WM_TEST_SUM, 1, 2);
        Command(d, IDOK);  // the base's OK entry calls the overriding OnOK
    };
    EXPECT_EQ(dialog.DoModal(), 77);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"derived settings", "sum", "derived ok"}));
    EXPECT_EQ(sum, 3);
}

TEST(DialogEnd, CloseEndsAsCancelAndTheObjectCanRunAgain) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) { ::PostMessageW(d.GetSafeHwnd(), WM_CLOSE, 0, 0); };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);

    dialog.script = [](ScriptedDialog& d) {
        Command(d, ID_SETTINGS);
        Command(d, IDOK);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"settings"}));
}

TEST(DialogEnd, RunsModallyOnAWorkerThread) {
    ScriptedDialog dialog;
    DWORD handlerThread = 0;
    dialog.script = [&](ScriptedDialog& d) {
        handlerThread = ::GetCurrentThreadId();
        ::PostMessageW(d.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(ID_SETTINGS, BN_CLICKED), 0);
        ::PostMessageW(d.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    };
    INT_PTR result = 0;
    DWORD workerThread = 0;
    std::thread worker([&] {
        workerThread = ::GetCurrentThreadId();
        result = dialog.DoModal();
    });
    worker.join();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(handlerThread, workerThread);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"settings"}));
}

namespace {

// Keeps itself hidden the way the main dialog does: the pending change is
// edited, then handed to default processing.
class HiddenDialog : public CDialog {
public:
    HiddenDialog() : CDialog(IDD_ORLIVANSYSTRAY_DIALOG) {}

    bool visibleAfterShow = true;
    bool visibleAfterIdle = true;
    RECT rect{};

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ShowWindow(SW_SHOW);
        ::SetWindowPos(m_hWnd, nullptr, 30, 40, 200, 100, SWP_NOZORDER | SWP_SHOWWINDOW);
        visibleAfterShow = IsWindowVisible() != FALSE;
        ::GetWindowRect(m_hWnd, &rect);
        // The modal loop shows the dialog once its queue is empty; look after that.
        ::SetTimer(m_hWnd, 1, 300, nullptr);
        return TRUE;
    }

protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<&HiddenDialog::OnWindowPosChanging>(WM_WINDOWPOSCHANGING),
            OnMessage<&HiddenDialog::OnTimer>(WM_TIMER),
        };
        static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
        return &map;
    }

    void OnWindowPosChanging(WINDOWPOS* pos) {
        pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
        Default();
    }

    LRESULT OnTimer(WPARAM, LPARAM) {
        ::KillTimer(m_hWnd, 1);
        visibleAfterIdle = IsWindowVisible() != FALSE;
        EndDialog(IDOK);
        return 0;
    }
};

}  // namespace

TEST(DialogDefault, SeesTheHandlersChangesToTheRequest) {
    HiddenDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_FALSE(dialog.visibleAfterShow);
    EXPECT_FALSE(dialog.visibleAfterIdle);
    // The move and resize of the same request took effect.
    EXPECT_EQ(dialog.rect.left, 30);
    EXPECT_EQ(dialog.rect.top, 40);
    EXPECT_EQ(dialog.rect.right - dialog.rect.left, 200);
    EXPECT_EQ(dialog.rect.bottom - dialog.rect.top, 100);
}

namespace {

// Binds the update dialog's controls as that dialog does.
class BindingDialog : public CDialog {
public:
    BindingDialog() : CDialog(IDD_UPDATE_DIALOG) {}

    CProgressCtrl m_progress;
    CStatic m_messageText;
    CStatic m_waitText;
    CButton m_okButton;
    CButton m_cancelButton;
    CStatic m_missing;

    struct Seen {
        HWND bound;
        HWND item;
        std::wstring className;
    };
    std::vector<Seen> seen;
    HWND missingSeen = reinterpret_cast<HWND>(1);

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        seen.clear();
        const std::pair<CWnd*, int> controls[] = {
            {&m_progress, IDC_UPDATE_PROGRESS}, {&m_messageText, IDC_UPDATE_MESSAGE},
            {&m_waitText, IDC_UPDATE_WAIT},     {&m_okButton, IDOK},
            {&m_cancelButton, IDCANCEL},
        };
        for (const auto& [control, id] : controls) {
            wchar_t name[64] = {};
            ::GetClassNameW(control->GetSafeHwnd(), name, 64);
            seen.push_back(Seen{control->GetSafeHwnd(), GetDlgItem(id), name});
        }
        missingSeen = m_missing.GetSafeHwnd();
        ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_UPDATE_PROGRESS, m_progress);
        DDX_Control(pDX, IDC_UPDATE_MESSAGE, m_messageText);
        DDX_Control(pDX, IDC_UPDATE_WAIT, m_waitText);
        DDX_Control(pDX, IDOK, m_okButton);
        DDX_Control(pDX, IDCANCEL, m_cancelButton);
        DDX_Control(pDX, 4242, m_missing);
    }
};

}  // namespace

TEST(DialogControls, BindsEachControlForOneRunOnly) {
    BindingDialog dialog;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(dialog.DoModal(), IDCANCEL);
        ASSERT_EQ(dialog.seen.size(), 5u);
        const wchar_t* classes[] = {L"msctls_progress32", L"Static", L"Static", L"Button",
                                    L"Button"};
        for (size_t i = 0; i < dialog.seen.size(); ++i) {
            EXPECT_NE(dialog.seen[i].bound, nullptr) << i;
            EXPECT_EQ(dialog.seen[i].bound, dialog.seen[i].item) << i;
            EXPECT_EQ(dialog.seen[i].className, classes[i]) << i;
        }
        EXPECT_EQ(dialog.missingSeen, nullptr);
        // The controls died with the window; no stale handle remains.
        EXPECT_EQ(dialog.m_progress.GetSafeHwnd(), nullptr);
        EXPECT_EQ(dialog.m_cancelButton.GetSafeHwnd(), nullptr);
    }
}

TEST(DialogModal, WithoutControlsKeepsTheRestOfTheTemplate) {
    ScriptedDialog dialog;
    HWND firstControl = reinterpret_cast<HWND>(1);
    std::wstring caption;
    dialog.script = [&](ScriptedDialog& d) {
        firstControl = ::GetWindow(d.m_hWnd, GW_CHILD);
        caption = d.GetWindowText();
        Command(d, IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModalWithoutControls(), IDCANCEL);
    EXPECT_EQ(firstControl, nullptr);
    EXPECT_EQ(caption, L"OrlivanSysTray");
}
