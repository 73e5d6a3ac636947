#include "output/detect_window.h"

#include <algorithm>

CDetectWindow::CDetectWindow() { Reset(); }

void CDetectWindow::Push(float x, float y) {
    std::copy_backward(m_fX, m_fX + kSize - 1, m_fX + kSize);
    std::copy_backward(m_fY, m_fY + kSize - 1, m_fY + kSize);
    std::copy_backward(m_bValid, m_bValid + kSize - 1, m_bValid + kSize);
    m_fX[0] = x;
    m_fY[0] = y;
    m_bValid[0] = 1;
}

int CDetectWindow::CountStill(float x, float y) const {
    const float left = x - kHalfSide, right = x + kHalfSide;
    const float top = y - kHalfSide, bottom = y + kHalfSide;
    int count = 0;
    while (count < kSize && m_bValid[count] && left <= m_fX[count] && m_fX[count] <= right && top <= m_fY[count] &&
           m_fY[count] <= bottom)
        ++count;
    return count;
}

void CDetectWindow::Reset() { m_bValid[0] = 0; }
