"""Test-only native helpers of the vora accelerators; never shipped."""
