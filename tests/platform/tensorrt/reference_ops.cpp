#include "tests/platform/tensorrt/reference_ops.h"

#include <algorithm>

#include "tests/platform/tensorrt/network_harness.h"

namespace trt_test {

Tensor4::Tensor4(int n_, int c_, int h_, int w_, float fill)
    : n(n_), c(c_), h(h_), w(w_), v(std::size_t(n_) * c_ * h_ * w_, fill) {}

Tensor4 randomTensor(int n, int c, int h, int w, uint32_t seed) {
    Tensor4 t(n, c, h, w);
    t.v = randomValues(t.v.size(), seed);
    return t;
}

Tensor4 referenceConv(Tensor4& in, const std::vector<float>& k, const std::vector<float>& b,
                      const ConvSpec& s) {
    const int oh = (s.h + 2 * s.ph - s.dh * (s.kh - 1) - 1) / s.sh + 1;
    const int ow = (s.w + 2 * s.pw - s.dw * (s.kw - 1) - 1) / s.sw + 1;
    const int icg = s.c / s.groups, ocg = s.maps / s.groups;
    Tensor4 out(s.n, s.maps, oh, ow);
    for (int n = 0; n < s.n; ++n)
        for (int o = 0; o < s.maps; ++o)
            for (int y = 0; y < oh; ++y)
                for (int x = 0; x < ow; ++x) {
                    double sum = b.empty() ? 0.0 : b[o];
                    for (int i = 0; i < icg; ++i)
                        for (int ky = 0; ky < s.kh; ++ky)
                            for (int kx = 0; kx < s.kw; ++kx) {
                                const int iy = y * s.sh - s.ph + ky * s.dh,
                                          ix = x * s.sw - s.pw + kx * s.dw;
                                if (iy < 0 || iy >= s.h || ix < 0 || ix >= s.w) continue;
                                sum += double(in.at(n, (o / ocg) * icg + i, iy, ix)) *
                                       k[((std::size_t(o) * icg + i) * s.kh + ky) * s.kw + kx];
                            }
                    out.at(n, o, y, x) = float(sum);
                }
    return out;
}

Tensor4 referenceDeconv(Tensor4& in, const std::vector<float>& k, const std::vector<float>& b,
                        const ConvSpec& s) {
    const int oh = (s.h - 1) * s.sh - 2 * s.ph + s.dh * (s.kh - 1) + 1;
    const int ow = (s.w - 1) * s.sw - 2 * s.pw + s.dw * (s.kw - 1) + 1;
    const int icg = s.c / s.groups, ocg = s.maps / s.groups;
    std::vector<double> acc(std::size_t(s.n) * s.maps * oh * ow, 0.0);
    for (int n = 0; n < s.n; ++n)
        for (int i = 0; i < s.c; ++i)
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x)
                    for (int o = 0; o < ocg; ++o)
                        for (int ky = 0; ky < s.kh; ++ky)
                            for (int kx = 0; kx < s.kw; ++kx) {
                                const int oy = y * s.sh - s.ph + ky * s.dh,
                                          ox = x * s.sw - s.pw + kx * s.dw;
                                if (oy < 0 || oy >= oh || ox < 0 || ox >= ow) continue;
                                const int map = (i / icg) * ocg + o;
                                acc[((std::size_t(n) * s.maps + map) * oh + oy) * ow + ox] +=
                                    double(in.at(n, i, y, x)) *
                                    k[((std::size_t(i) * ocg + o) * s.kh + ky) * s.kw + kx];
                            }
    Tensor4 out(s.n, s.maps, oh, ow);
    for (std::size_t e = 0; e < out.v.size(); ++e) {
        out.v[e] = float(acc[e] + (b.empty() ? 0.0 : b[(e / (std::size_t(oh) * ow)) % s.maps]));
    }
    return out;
}

void referenceRelu(Tensor4& t) {
    for (float& v : t.v)
        v = std::max(v, 0.0F);
}

Tensor4 referenceConcat(Tensor4& a, Tensor4& b) {
    Tensor4 out(a.n, a.c + b.c, a.h, a.w);
    for (int n = 0; n < a.n; ++n)
        for (int c = 0; c < out.c; ++c)
            for (int y = 0; y < a.h; ++y)
                for (int x = 0; x < a.w; ++x)
                    out.at(n, c, y, x) = c < a.c ? a.at(n, c, y, x) : b.at(n, c - a.c, y, x);
    return out;
}

}  // namespace trt_test
