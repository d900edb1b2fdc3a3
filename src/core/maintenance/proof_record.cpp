#include "core/maintenance/proof_record.h"

namespace bv::maintenance {

std::string_view verdictWord(ProofVerdict verdict) {
  switch (verdict) {
    case ProofVerdict::Passed:
      return "passed";
    case ProofVerdict::Damage:
      return "damage";
    case ProofVerdict::Failed:
      return "failed";
    case ProofVerdict::None:
      break;
  }
  return "";
}

ProofVerdict verdictFromWord(std::string_view word) {
  for (const ProofVerdict verdict : {ProofVerdict::Passed, ProofVerdict::Damage, ProofVerdict::Failed}) {
    if (word == verdictWord(verdict)) return verdict;
  }
  // A row whose proof never came to its end (the connection lost mid-proof) could not run either.
  return ProofVerdict::Failed;
}

std::vector<std::string> proofRecordStartStatements(std::string_view scratchExpression,
                                                    std::string_view setIdExpression) {
  const std::string table(kProofRecordTable);
  return {
      "IF OBJECT_ID(N'" + table + "') IS NULL CREATE TABLE " + table +
          " (scratch_name nvarchar(128) NOT NULL, backup_set_id int NOT NULL, started datetime NOT NULL, "
          "finished datetime NULL, verdict nvarchar(10) NULL)",
      "INSERT INTO " + table + " (scratch_name, backup_set_id, started) VALUES (" + std::string(scratchExpression) +
          ", " + std::string(setIdExpression) + ", GETDATE())",
  };
}

std::string proofRecordFinishStatement(std::string_view scratchExpression, std::string_view verdictExpression) {
  return "UPDATE " + std::string(kProofRecordTable) + " SET finished = GETDATE(), verdict = " +
         std::string(verdictExpression) + " WHERE scratch_name = " + std::string(scratchExpression);
}

std::string newestVerdictExpression(std::string_view setIdExpression) {
  return "(SELECT TOP 1 ISNULL(p.verdict, N'') FROM " + std::string(kProofRecordTable) +
         " p WHERE p.backup_set_id = " + std::string(setIdExpression) + " ORDER BY p.started DESC)";
}

std::string proofRecordExistsExpression() {
  return "CASE WHEN OBJECT_ID(N'" + std::string(kProofRecordTable) + "') IS NULL THEN 0 ELSE 1 END";
}

}  // namespace bv::maintenance
