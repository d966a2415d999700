# Rough costs of the longest tests, so that CTest starts them first on a fresh build tree
# instead of leaving them for the end; later runs order by the times CTest has measured. A name
# that no longer exists is ignored.
set_tests_properties(ProcessTest.TranscribesTheLibriVoxRecordings PROPERTIES COST 100)
set_tests_properties(ProcessTest.EveryDamagedModelIsReportedAsNotAvailable PROPERTIES COST 90)
set_tests_properties(RealModelTest.PartialResultsWhenAskedLeadUpToTheFinalOne PROPERTIES COST 50)
