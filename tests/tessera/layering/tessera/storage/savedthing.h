// A storage header, for the layering check's own test.
#pragma once
