// The fault matrix: every flow of the host against every kind of fault, at every
// site or every QRX_FAULT_STRIDE-th (see matrix_fixture.h).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "faults/matrix_fixture.h"

namespace qrx::test {
namespace {

class Matrix : public FaultMatrix,
               public ::testing::WithParamInterface<std::tuple<size_t, FaultKind>> {};

TEST_P(Matrix, EverySiteFailsCleanly) {
  const auto [flow, kind] = GetParam();
  run_matrix(flows()[flow], kind);
}

std::string run_name(const ::testing::TestParamInfo<std::tuple<size_t, FaultKind>>& info) {
  static const char* const kinds[] = {"request", "disconnect", "stall", "allocation"};
  return std::string(FaultMatrix::flows()[std::get<0>(info.param)].name) + "_" +
         kinds[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Flows, Matrix,
    ::testing::Combine(::testing::Range<size_t>(0, FaultMatrix::flows().size()),
                       ::testing::Values(FaultKind::kFailRequest, FaultKind::kDisconnect,
                                         FaultKind::kStallBulkReads, FaultKind::kAllocation)),
    run_name);

}  // namespace
}  // namespace qrx::test
