// Shared helpers of the test suites live in this folder.
