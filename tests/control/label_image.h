// A 32-bit DIB section selected into a memory DC, for looking at what was
// drawn pixel by pixel.
#pragma once

#include <windows.h>

#include <vector>

class LabelImage {
public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 120;
    static constexpr DWORD kBackground = 0x00123456;

    LabelImage() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits),
                                    nullptr, 0);
        m_old = SelectObject(m_dc, m_bitmap);
        std::fill(m_bits, m_bits + kWidth * kHeight, kBackground);
        SetTextColor(m_dc, RGB(0, 0, 0));
        SetBkMode(m_dc, TRANSPARENT);
    }
    ~LabelImage() {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    LabelImage(const LabelImage&) = delete;
    LabelImage& operator=(const LabelImage&) = delete;

    HDC Dc() const { return m_dc; }
    std::vector<DWORD> Pixels() const {
        GdiFlush();
        return std::vector<DWORD>(m_bits, m_bits + kWidth * kHeight);
    }
    bool Blank() const {
        const auto pixels = Pixels();
        for (DWORD p : pixels) {
            if (p != kBackground)
                return false;
        }
        return true;
    }
    // The label as a reference drawing: centre-baseline text at x, y in
    // device units.
    void DrawReference(int x, int y) {
        SetTextAlign(m_dc, TA_CENTER | TA_BASELINE);
        TextOutW(m_dc, x, y, L"ATL 8.0", 7);
    }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    DWORD* m_bits = nullptr;
};
