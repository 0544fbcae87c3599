#pragma once
// Dense matrix of doubles held as row pointers: m[i][j] is row i, column j.
// The row and column counts sit just ahead of the handle, in the same block
// as the row pointers; each row is a separate block. Contents start
// uninitialised.

#include <cstdint>

using DMatrix = double**;

DMatrix dmatrix_alloc(int32_t rows, int32_t columns);
void dmatrix_free(DMatrix m);
int32_t dmatrix_rows(const DMatrix m);
int32_t dmatrix_columns(const DMatrix m);
