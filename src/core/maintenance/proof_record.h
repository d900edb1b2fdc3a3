// The record of each proof's verdict, on the server, where all three roads write it and the
// backup history reads it: a small table in msdb, made on first use, as maintenance tools keep a
// command log there. A row is written before the restore (the scratch name, the backup set) and
// completed after the check with the verdict: passed, damage (CHECKDB's summary 8989 came), or
// failed (the proof could not run to a verdict: a restore error, a lost connection, a vanished
// scratch database). A backup whose newest proof passed is proven; restores into scratch
// databases from before the record existed prove nothing. A login that may not create or write
// the table leaves a line saying so; the proof's own result is unchanged. Qt-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bv::maintenance {

inline constexpr std::string_view kProofRecordTable = "msdb.dbo.brackenvale_proofs";
inline constexpr std::string_view kProofNotRecorded = "テストレストアの結果を記録できませんでした。";
// DBCC CHECKDB's summary: "CHECKDB found N allocation errors and M consistency errors ...".
inline constexpr long kCheckSummaryError = 8989;

enum class ProofVerdict { None, Passed, Damage, Failed };

// "passed", "damage", "failed" as the table keeps them ("" for None).
std::string_view verdictWord(ProofVerdict verdict);
ProofVerdict verdictFromWord(std::string_view word);

// The statements that make the table when it is missing and start a proof's row; the scratch name
// and the backup set as T-SQL expressions (literals, or the job step's variables).
std::vector<std::string> proofRecordStartStatements(std::string_view scratchExpression,
                                                    std::string_view setIdExpression);
// The statement that completes the row with a verdict (a T-SQL expression giving a word above).
std::string proofRecordFinishStatement(std::string_view scratchExpression, std::string_view verdictExpression);
// A scalar T-SQL expression: the newest proof's verdict of the set, NULL when none was recorded
// (only where the table exists).
std::string newestVerdictExpression(std::string_view setIdExpression);
// A scalar T-SQL expression: 1 when the table exists, else 0.
std::string proofRecordExistsExpression();

}  // namespace bv::maintenance
