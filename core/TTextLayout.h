#pragma once

// Vertical placement of a control's text within the control.
enum TTextLayout { tlTop, tlCenter, tlBottom };
