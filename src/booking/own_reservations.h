// Own reservations and cancellation: the OMATLISTA rows of /Omat, the
// cancellation's confirmation (/Poista), the cancellation with its refund
// (/PoisVar) and its done page (/PoisOk).
//
// A reservation can be cancelled while its slot starts later than now plus
// PoistaEnnenPv hours. The list offers the link only until then, and the
// cancellation itself holds to the same deadline, so a link kept or crafted
// after it neither deletes nor refunds.
#pragma once

#include <string>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// OMATLISTA: the date, user and (with the fee in use) balance rows, then,
// when the user holds open reservations, a header row and one row per
// reservation whose slot starts later than now minus MaxVanhatPv days.
// Lines end with a single CR. Empty without a session (PlainSessionLookup).
// Under INI [Features] OwnListDetails the rows come in start order, each
// with its weekday and its cancellation deadline, and the user's limits
// (open and past reservations, the horizon, the credit limit) precede them.
std::string OwnReservationList(RequestContext& ctx);

// The balance the fee is taken from: Asiakas.Laskutettu when the customer
// has a row there (`customer`: the credit limit applies), WEBREG.TmpSaldo
// otherwise. REQUIRES: TblWebReg on the user's row.
struct Balance {
  double amount = 0;
  bool customer = false;
};
Balance UserBalance(RequestContext& ctx);

// WEBPAGE /Poista (session rule IdleTested)
// Query: LANG, ID, Kau, Vuo, Seq, JNo (at least 5 fields).
// Answers poista.html with the slot described in VARAUS and the
// reservation's key in the hidden fields of VARPARAM (an unknown slot
// leaves VARAUS empty). The session is refreshed. Reads no reservation:
// /PoisVar makes the checks.
Answer WebModOrvaneWebActPoistaAction(RequestContext& ctx);

// WEBPAGE /PoisVar (session rule IdleTested, in a write transaction)
// Query: LANG, ID, Kau, Vuo, Seq, JNo (4 to 6 fields).
// Deletes the user's open reservation, refunds the fee with the fee in use
// (to Asiakas.Laskutettu, or to WEBREG.TmpSaldo without a customer row) and
// redirects to /PoisOk. Error page: a reservation that is not the user's
// open one or whose slot is gone (NotFound), past the cancellation deadline
// (TooLateToCancel); the session is refreshed in both. With [Features]
// Mail on, a cancellation made queues its notice in the same transaction.
Answer WebModOrvaneWebActPoisVarAction(RequestContext& ctx);

// WEBPAGE /PoisOk
// Query: LANG, ID (at least one field). Answers poisok.html; reads no table.
Answer WebModOrvaneWebActPoisOkAction(RequestContext& ctx);

}  // namespace wo
