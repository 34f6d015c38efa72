// Key names: the 107-key table behind CKeyExchange, and the hotkey texts of the settings
// screens (pubfunc::changeHotkeyValueToString) with their own short list of names.
#include "pubfunc/pubfunc.h"

namespace {

struct KeyNameEntry {
    int dik;             // DirectInput scan code
    char16_t name[64];   // display name
    int vk;              // platform virtual-key code
};

// Looked up from the top; the first row with a matching virtual key wins. Left-hand modifiers
// carry the generic codes (Shift 0x10, Ctrl 0x11, Alt 0x12), right-hand ones the side codes.
const KeyNameEntry keyNameTable[107] = {
    {0x01, u"Esc", 0x1B},        {0x02, u"1", 0x31},          {0x03, u"2", 0x32},
    {0x04, u"3", 0x33},          {0x05, u"4", 0x34},          {0x06, u"5", 0x35},
    {0x07, u"6", 0x36},          {0x08, u"7", 0x37},          {0x09, u"8", 0x38},
    {0x0A, u"9", 0x39},          {0x0B, u"0", 0x30},          {0x0D, u"=", 0xBB},
    {0x0C, u"-", 0xBD},          {0x0E, u"Backspace", 0x08},  {0x0F, u"Tab", 0x09},
    {0x10, u"Q", 0x51},          {0x11, u"W", 0x57},          {0x12, u"E", 0x45},
    {0x13, u"R", 0x52},          {0x14, u"T", 0x54},          {0x15, u"Y", 0x59},
    {0x16, u"U", 0x55},          {0x17, u"I", 0x49},          {0x18, u"O", 0x4F},
    {0x19, u"P", 0x50},          {0x1A, u"[", 0xDB},          {0x1B, u"]", 0xDD},
    {0x1C, u"Enter", 0x0D},      {0x1D, u"Ctrl", 0x11},       {0x1E, u"A", 0x41},
    {0x1F, u"S", 0x53},          {0x20, u"D", 0x44},          {0x21, u"F", 0x46},
    {0x22, u"G", 0x47},          {0x23, u"H", 0x48},          {0x24, u"J", 0x4A},
    {0x25, u"K", 0x4B},          {0x26, u"L", 0x4C},          {0x27, u";", 0xBA},
    {0x28, u"Apostrophe", 0xDE}, {0x29, u"~", 0xC0},          {0x2A, u"Shift", 0x10},
    {0x2B, u"\\", 0xDC},         {0x2C, u"Z", 0x5A},          {0x2D, u"X", 0x58},
    {0x2E, u"C", 0x43},          {0x2F, u"V", 0x56},          {0x30, u"B", 0x42},
    {0x31, u"N", 0x4E},          {0x32, u"M", 0x4D},          {0x33, u",", 0xBC},
    {0x34, u".", 0xBE},          {0x35, u"/", 0xBF},          {0x36, u"Shift", 0xA1},
    {0x37, u"*", 0x6A},          {0x38, u"Alt", 0x12},        {0x39, u"Space", 0x20},
    {0x3A, u"CapsLock", 0x14},   {0x3B, u"F1", 0x70},         {0x3C, u"F2", 0x71},
    {0x3D, u"F3", 0x72},         {0x3E, u"F4", 0x73},         {0x3F, u"F5", 0x74},
    {0x40, u"F6", 0x75},         {0x41, u"F7", 0x76},         {0x42, u"F8", 0x77},
    {0x43, u"F9", 0x78},         {0x44, u"F10", 0x79},        {0x57, u"F11", 0x7A},
    {0x58, u"F12", 0x7B},        {0x64, u"F13", 0x7C},        {0x65, u"F14", 0x7D},
    {0x66, u"F15", 0x7E},        {0x45, u"NumLock", 0x90},    {0x46, u"Scroll", 0x91},
    {0x47, u"Numpad7", 0x67},    {0x48, u"Numpad8", 0x68},    {0x49, u"Numpad9", 0x69},
    {0x4A, u"-", 0x6D},          {0x4B, u"Numpad4", 0x64},    {0x4C, u"Numpad5", 0x65},
    {0x4D, u"Numpad6", 0x66},    {0x4E, u"+", 0x6B},          {0x4F, u"Numpad1", 0x61},
    {0x50, u"Numpad2", 0x62},    {0x51, u"Numpad3", 0x63},    {0x52, u"Numpad0", 0x60},
    {0x53, u".", 0x6E},          {0x56, u"Oem102", 0xE2},     {0x9D, u"Ctrl", 0xA3},
    {0xB7, u"SysRq", 0x2C},      {0xB8, u"Alt", 0xA5},        {0xC5, u"Pause", 0x13},
    {0xC7, u"Home", 0x24},       {0xC8, u"Up", 0x26},         {0xC9, u"Prior", 0x21},
    {0xCB, u"Left", 0x25},       {0xCD, u"Right", 0x27},      {0xCF, u"End", 0x23},
    {0xD0, u"Down", 0x28},       {0xD1, u"Next", 0x22},       {0xD2, u"Insert", 0x2D},
    {0xD3, u"Delete", 0x2E},     {0xDB, u"Win", 0x5B},        {0xDC, u"Win", 0x5C},
    {0xDD, u"Apps", 0x5D},       {0xDF, u"Sleep", 0x5F},
};

const KeyNameEntry* findKey(int vk) {
    for (const KeyNameEntry& e : keyNameTable)
        if (e.vk == vk)
            return &e;
    return nullptr;
}

// Hotkey modifier bits (the hotkey control's Shift 1, Ctrl 2, Alt 4) above the key code.
constexpr unsigned int kHotkeyShift = 1u << 0;
constexpr unsigned int kHotkeyCtrl = 1u << 1;
constexpr unsigned int kHotkeyAlt = 1u << 2;

// "Ctrl", "Alt", "Shift" in that order, joined by "+".
std::u16string hotkeyModifierText(unsigned int modifiers) {
    std::u16string text;
    if (modifiers & kHotkeyCtrl)
        text = u"Ctrl";
    if (modifiers & kHotkeyAlt)
        text += text.empty() ? u"Alt" : u"+Alt";
    if (modifiers & kHotkeyShift)
        text += text.empty() ? u"Shift" : u"+Shift";
    return text;
}

// The hotkey name of a virtual key; empty for keys without one. Backspace, Space and Delete
// never get here: the caller clears them first.
std::u16string hotkeyKeyText(unsigned int vk) {
    if ((vk >= 48 && vk <= 57) || (vk >= 65 && vk <= 90))
        return std::u16string(1, static_cast<char16_t>(vk));
    if (vk >= 97 && vk <= 105)
        return u"Num" + std::u16string(1, static_cast<char16_t>(u'1' + (vk - 97)));
    if (vk >= 112 && vk <= 123) {
        const unsigned int n = vk - 111;
        std::u16string text = u"F";
        if (n >= 10)
            text += u'1';
        text += static_cast<char16_t>(u'0' + n % 10);
        return text;
    }
    switch (vk) {
    case 20: return u"Caps Lock";
    case 33: return u"PageUp";
    case 34: return u"PageDown";
    case 35: return u"End";
    case 36: return u"Home";
    case 37: return u"Left";
    case 38: return u"Up";
    case 39: return u"Right";
    case 40: return u"Down";
    case 45: return u"Insert";
    case 96: return u"Num0";
    case 106: return u"Num*";
    case 107: return u"Num+";
    case 109: return u"Num-";
    case 110: return u"Num.";
    case 111: return u"Num/";
    case 144: return u"Num Lock";
    case 186: return u";";
    case 187: return u"=";
    case 188: return u",";
    case 189: return u"-";
    case 190: return u".";
    case 191: return u"/";
    case 192: return u"`";
    case 219: return u"[";
    case 220: return u"\\";
    case 221: return u"]";
    case 222: return u"'";
    default: return std::u16string();  // 108 (the separator key) and everything else
    }
}

}  // namespace

void CKeyExchange::VKKeyToString_S(int vk, std::u16string& name) {
    if (const KeyNameEntry* e = findKey(vk))
        name = e->name;
}

bool CKeyExchange::VK2DIK(int vk, int& dik) {
    const KeyNameEntry* e = findKey(vk);
    if (!e)
        return false;
    dik = e->dik;
    return true;
}

void CKeyExchange::GetKeysCombineDesc(int first, int second, int third, std::u16string& text) {
    text.clear();
    const int keys[3] = {first, second, third};
    for (int i = 0; i < 3; ++i) {
        if (keys[i] == 0)
            continue;
        if (i > 0)
            text += u" + ";
        std::u16string name;
        VKKeyToString_S(keys[i], name);
        text += name;
    }
}

std::u16string pubfunc::changeHotkeyValueToString(unsigned int value) {
    unsigned int key = value & 0xFFFFu;
    unsigned int modifiers = value >> 16;
    if (key == 32)  // Space cannot be a hotkey key
        key = 0;
    if (key == 8 || key == 46) {  // Backspace and Delete clear the hotkey
        key = 0;
        modifiers = 0;
    }
    std::u16string text = hotkeyModifierText(modifiers);
    if (!text.empty() && key != 0)
        text += u'+';
    if (key != 0)
        text += hotkeyKeyText(key);
    return text.empty() ? std::u16string(u"\u65E0") : text;
}
