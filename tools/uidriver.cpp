// uidriver: runs a windowless program and answers its message boxes as a
// user would, recording each box: caption, text, buttons and icon.
//
//   uidriver [--answers OK,CANCEL,CLOSE] [--timeout SECONDS] [--dir FOLDER]
//            [--shots FOLDER] -- "COMMAND LINE"
//
// Answers: OK and CANCEL press those buttons (CANCEL on a box without one is
// answered as Windows answers Esc there: OK), CLOSE sends WM_CLOSE. A box
// with only an OK button needs no answer of the list.
//
// Prints one JSON line per box, then one with the program's exit code. A
// program that neither shows a box nor ends within the timeout, or that shows
// a box with no answer left for it, is ended; its exit code is then null.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "png.h"
#include "textout.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kBoxGoneMs = 3000;
constexpr DWORD kPaintSettleMs = 3000;
constexpr int kMessageTextId = 0xFFFF;

struct Options {
    std::vector<std::wstring> answers;
    DWORD timeoutMs = 20000;
    std::wstring folder;
    std::wstring shots;
    std::wstring command;
};

struct Button {
    int id;
    std::wstring text;
    LONG left;
    bool isDefault;
};

struct Box {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<Button> buttons;
    std::string icon = "none";
    RECT rect{};
};

std::vector<std::wstring> SplitAnswers(const std::wstring& list)
{
    std::vector<std::wstring> answers;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(L',', start);
        if (end == std::wstring::npos)
            end = list.size();
        std::wstring answer = list.substr(start, end - start);
        CharUpperW(answer.data());
        if (!answer.empty())
            answers.push_back(answer);
        start = end + 1;
    }
    return answers;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring name = argv[i];
        if (name == L"--")
            break;
        if (i + 1 >= argc)
            return false;
        std::wstring value = argv[++i];
        if (name == L"--answers")
            options.answers = SplitAnswers(value);
        else if (name == L"--timeout")
            options.timeoutMs = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10) * 1000);
        else if (name == L"--dir")
            options.folder = value;
        else if (name == L"--shots")
            options.shots = value;
        else
            return false;
    }
    if (i + 2 != argc)
        return false;
    options.command = argv[i + 1];
    return !options.command.empty();
}

std::wstring WindowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT WindowRectOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

struct BoxSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK CheckTopWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !IsWindowVisible(window) || ClassOf(window) != L"#32770")
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindBox(DWORD process)
{
    BoxSearch search{process, nullptr};
    EnumWindows(CheckTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Windows gives the icon the ID 20, Wine 1088: the style tells on both.
HWND IconControl(HWND box)
{
    for (HWND child : Children(box)) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
            return child;
    }
    return nullptr;
}

struct StockIcon {
    const char* name;
    LPCWSTR id;
    UINT style;
};

const StockIcon kStockIcons[] = {
    {"error", MAKEINTRESOURCEW(32513), MB_ICONERROR},         // IDI_HAND
    {"question", MAKEINTRESOURCEW(32514), MB_ICONQUESTION},   // IDI_QUESTION
    {"warning", MAKEINTRESOURCEW(32515), MB_ICONWARNING},     // IDI_EXCLAMATION
    {"information", MAKEINTRESOURCEW(32516), MB_ICONINFORMATION},  // IDI_ASTERISK
};

// Pixels that paint() leaves in a fresh 32-bit bitmap, as RGB.
Image Render(int width, int height, const std::function<void(HDC)>& paint)
{
    Image image;
    image.width = std::max(width, 0);
    image.height = std::max(height, 0);
    std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    image.rgb.assign(count * 3, 0);
    if (count == 0)
        return image;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        paint(memory);
        GdiFlush();
        const auto* pixels = static_cast<const std::uint8_t*>(bits);
        for (std::size_t i = 0; i < count; ++i) {
            image.rgb[i * 3] = pixels[i * 4 + 2];
            image.rgb[i * 3 + 1] = pixels[i * 4 + 1];
            image.rgb[i * 3 + 2] = pixels[i * 4];
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

Image Capture(const RECT& rect)
{
    return Render(rect.right - rect.left, rect.bottom - rect.top, [&rect](HDC memory) {
        HDC screen = GetDC(nullptr);
        BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left,
               rect.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
    });
}

// The stock icon drawn as the box draws it, on the box's own background.
Image DrawnIcon(HICON icon, int width, int height, COLORREF background)
{
    return Render(width, height, [=](HDC memory) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT all{0, 0, width, height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    });
}

// Mean difference per channel, 0..255.
double Difference(const Image& a, const Image& b)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 255;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        sum += static_cast<std::uint64_t>(std::abs(int{a.rgb[i]} - int{b.rgb[i]}));
    return static_cast<double>(sum) / static_cast<double>(a.rgb.size());
}

// Windows shares the stock icons between processes, so the handle tells.
// Wine loads them anew in each process: there the pixels on the screen tell.
std::string IconOf(HWND control)
{
    if (control == nullptr)
        return "none";
    auto shown = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    if (shown == nullptr)
        return "none";
    for (const StockIcon& stock : kStockIcons)
        if (LoadIconW(nullptr, stock.id) == shown)
            return stock.name;
    Image onScreen = Capture(WindowRectOf(control));
    if (onScreen.rgb.empty())
        return "unknown";
    COLORREF background = RGB(onScreen.rgb[0], onScreen.rgb[1], onScreen.rgb[2]);
    const char* best = "unknown";
    double bestDifference = 12;  // what separates a match from a look-alike
    for (const StockIcon& stock : kStockIcons) {
        Image drawn = DrawnIcon(LoadIconW(nullptr, stock.id), onScreen.width, onScreen.height, background);
        double difference = Difference(onScreen, drawn);
        if (difference < bestDifference) {
            bestDifference = difference;
            best = stock.name;
        }
    }
    return best;
}

UINT IconStyle(const std::string& icon)
{
    for (const StockIcon& stock : kStockIcons)
        if (icon == stock.name)
            return stock.style;
    return 0;
}

// The MB_ button set that shows exactly these buttons.
UINT ButtonStyle(const std::vector<Button>& buttons)
{
    struct Set {
        std::vector<int> ids;
        UINT style;
    };
    static const Set sets[] = {
        {{IDOK}, MB_OK},
        {{IDOK, IDCANCEL}, MB_OKCANCEL},
        {{IDABORT, IDRETRY, IDIGNORE}, MB_ABORTRETRYIGNORE},
        {{IDCANCEL, IDYES, IDNO}, MB_YESNOCANCEL},
        {{IDYES, IDNO}, MB_YESNO},
        {{IDCANCEL, IDRETRY}, MB_RETRYCANCEL},
    };
    std::vector<int> ids;
    for (const Button& button : buttons)
        ids.push_back(button.id);
    std::sort(ids.begin(), ids.end());
    for (const Set& set : sets)
        if (set.ids == ids)
            return set.style;
    return 0xFFFF;
}

// Waits until the box's thread has painted it: two captures alike in a row.
void WaitUntilPainted(HWND window)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kPaintSettleMs, &ignored);
    RECT rect = WindowRectOf(window);
    Image last = Capture(rect);
    for (DWORD waited = 0; waited < kPaintSettleMs; waited += 100) {
        Sleep(100);
        Image now = Capture(rect);
        if (now.rgb == last.rgb)
            return;
        last = std::move(now);
    }
}

// MB_DEFBUTTON1..3: the default button's place from the left.
UINT DefaultButtonStyle(std::vector<Button> buttons)
{
    std::sort(buttons.begin(), buttons.end(), [](const Button& a, const Button& b) { return a.left < b.left; });
    for (std::size_t place = 0; place < buttons.size(); ++place)
        if (buttons[place].isDefault)
            return static_cast<UINT>(place) * MB_DEFBUTTON2;
    return 0;
}

Box ReadBox(HWND window)
{
    Box box;
    box.window = window;
    box.caption = WindowText(window);
    for (HWND child : Children(window)) {
        int id = GetDlgCtrlID(child);
        if (id == kMessageTextId && ClassOf(child) == L"Static" &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            box.text = WindowText(child);
        else if (ClassOf(child) == L"Button" && IsWindowVisible(child))
            box.buttons.push_back({id, WindowText(child), WindowRectOf(child).left,
                                   (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON});
    }
    std::sort(box.buttons.begin(), box.buttons.end(),
              [](const Button& a, const Button& b) { return a.id < b.id; });
    box.icon = IconOf(IconControl(window));
    box.rect = WindowRectOf(window);
    return box;
}

bool HasButton(const Box& box, int id)
{
    return std::any_of(box.buttons.begin(), box.buttons.end(),
                       [id](const Button& button) { return button.id == id; });
}

bool WaitUntilGone(HWND window, DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += kPollMs) {
        if (!IsWindow(window) || !IsWindowVisible(window))
            return true;
        Sleep(kPollMs);
    }
    return false;
}

// A click on the button; should the box not take it (Windows may ignore
// BM_CLICK in a dialog that isn't active), the command the click would send.
bool PressButton(const Box& box, int id)
{
    HWND button = GetDlgItem(box.window, id);
    PostMessageW(button, BM_CLICK, 0, 0);
    if (WaitUntilGone(box.window, kBoxGoneMs))
        return true;
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return WaitUntilGone(box.window, kBoxGoneMs);
}

// What was done: "OK", "CANCEL", "CLOSE", or "" when the box would not go.
std::wstring Answer(const Box& box, const std::wstring& answer)
{
    if (answer == L"OK" && HasButton(box, IDOK))
        return PressButton(box, IDOK) ? L"OK" : L"";
    if (answer == L"CANCEL" && HasButton(box, IDCANCEL))
        return PressButton(box, IDCANCEL) ? L"CANCEL" : L"";
    // Windows ends a box without a Cancel button that is told to cancel (Esc,
    // closing) with IDOK; Wine would give IDCANCEL: press OK as Windows would.
    if (answer == L"CANCEL" && HasButton(box, IDOK))
        return PressButton(box, IDOK) ? L"OK" : L"";
    if (answer == L"OK" || answer == L"CANCEL" || answer == L"CLOSE") {
        PostMessageW(box.window, WM_CLOSE, 0, 0);
        return WaitUntilGone(box.window, kBoxGoneMs) ? L"CLOSE" : L"";
    }
    return L"";
}

// A box with nothing but an OK button takes no answer: there is only one.
std::wstring OnlyChoice(const Box& box)
{
    return box.buttons.size() == 1 && box.buttons[0].id == IDOK ? L"OK" : L"";
}

std::wstring SaveShot(const Options& options, const Box& box, int number)
{
    if (options.shots.empty())
        return {};
    std::wstring path = options.shots + L"\\box" + std::to_wstring(number) + L".png";
    return WritePng(path, Capture(box.rect)) ? path : std::wstring();
}

std::string BoxJson(const Box& box, const std::wstring& answer, const std::wstring& shot)
{
    std::string buttons;
    for (const Button& button : box.buttons) {
        if (!buttons.empty())
            buttons += ",";
        buttons += "{\"id\":" + std::to_string(button.id) + ",\"text\":" + JsonString(button.text) + "}";
    }
    // What a box shows of its style: buttons, icon and default button; its
    // modality (MB_TASKMODAL...) leaves no trace on the box itself.
    UINT style = ButtonStyle(box.buttons) | IconStyle(box.icon) | DefaultButtonStyle(box.buttons);
    return "{\"caption\":" + JsonString(box.caption) + ",\"text\":" + JsonString(box.text) +
           ",\"buttons\":[" + buttons + "],\"icon\":\"" + box.icon + "\",\"style\":" +
           std::to_string(style) + ",\"rect\":[" + std::to_string(box.rect.left) + "," +
           std::to_string(box.rect.top) + "," + std::to_string(box.rect.right) + "," +
           std::to_string(box.rect.bottom) + "],\"answer\":" + JsonString(answer) +
           ",\"shot\":" + JsonString(shot) + "}";
}

bool StartProgram(const Options& options, PROCESS_INFORMATION& process)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command = options.command;
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          options.folder.empty() ? nullptr : options.folder.c_str(), &startup,
                          &process) != FALSE;
}

int Stop(const PROCESS_INFORMATION& process, const char* why)
{
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    PrintLine(std::string("{\"exit\":null,\"stopped\":\"") + why + "\"}");
    return 3;
}

int Drive(const Options& options, const PROCESS_INFORMATION& process)
{
    std::size_t next = 0;
    int number = 0;
    DWORD idle = 0;
    for (;;) {
        if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            PrintLine("{\"exit\":" + std::to_string(code) + "}");
            return 0;
        }
        HWND window = FindBox(process.dwProcessId);
        if (window == nullptr) {
            idle += kPollMs;
            if (idle >= options.timeoutMs)
                return Stop(process, "timeout");
            continue;
        }
        idle = 0;
        WaitUntilPainted(window);
        Box box = ReadBox(window);
        std::wstring shot = SaveShot(options, box, ++number);
        std::wstring answer = next < options.answers.size() ? options.answers[next++] : OnlyChoice(box);
        if (answer.empty() || answer == L"NONE") {
            PrintLine(BoxJson(box, L"NONE", shot));
            return Stop(process, "unanswered box");
        }
        std::wstring done = Answer(box, answer);
        PrintLine(BoxJson(box, done, shot));
        if (done.empty())
            return Stop(process, "box not answered");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        PrintLine("{\"error\":\"usage: uidriver [--answers LIST] [--timeout S] [--dir FOLDER] "
                  "[--shots FOLDER] -- \\\"COMMAND LINE\\\"\"}");
        return 2;
    }
    PROCESS_INFORMATION process{};
    if (!StartProgram(options, process)) {
        PrintLine("{\"error\":\"cannot start\",\"code\":" + std::to_string(GetLastError()) + "}");
        return 2;
    }
    PrintLine("{\"command\":" + JsonString(options.command) + "}");
    int result = Drive(options, process);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
