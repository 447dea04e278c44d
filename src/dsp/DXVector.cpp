#include "DXVector.h"

#include <cstdlib>
#include <new>

TDXVector::TDXVector(int32_t Size)
{
    if (Size <= 0 || Size > DXVectorMaxCount)
        return;
    // calloc gives zeroed storage without touching every page up front, which keeps large
    // vectors cheap to create.
    Values = static_cast<float*>(std::calloc(size_t(Size), sizeof(float)));
    if (Values != nullptr)
        Count = Size;
}

TDXVector::~TDXVector()
{
    std::free(Values);
    Values = nullptr;
    Count = 0;
}

TDXComplexVector::TDXComplexVector(int32_t Size)
{
    Real = new (std::nothrow) TDXVector(Size);
    Imag = Real != nullptr ? new (std::nothrow) TDXVector(Size) : nullptr;
    if (Real == nullptr || Imag == nullptr) {
        delete Real;
        Real = nullptr;
        Imag = nullptr;
        return;
    }
    Count = Size;
}

TDXComplexVector::~TDXComplexVector()
{
    delete Real;
    delete Imag;
    Real = nullptr;
    Imag = nullptr;
    Count = 0;
}
