// The SMS page: talks to the bridge (atsms-web), one request at a time, and shows what atsms
// answers. Every text that comes from the modem goes into the page with textContent only.
'use strict';

(function () {
  const bridge = document.querySelector('meta[name="atsms-bridge"]').content;
  const $ = (id) => document.getElementById(id);
  const storageNames = { sim: 'the SIM', tel: 'the phone memory' };

  // One element with a class and a text; never HTML.
  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // ---- the bridge: one request at a time, as the modem takes one command at a time ----

  let queue = Promise.resolve();
  let pending = 0;

  function showBusy() {
    $('busy').textContent = pending > 0 ? 'Asking the modem…' : '';
    document.body.dataset.busy = pending > 0 ? '1' : '0';
  }

  // Resolves to {result, status, error} of the bridge's answer, or {refused: text} for a
  // request the bridge (or the server) turned down.
  function call(request) {
    pending++;
    showBusy();
    const run = async () => {
      let response;
      try {
        if (request.op === 'list') {
          response = await fetch(bridge + '?op=list&storage=' + encodeURIComponent(request.storage),
            { credentials: 'same-origin', cache: 'no-store' });
        } else {
          response = await fetch(bridge, {
            method: 'POST',
            credentials: 'same-origin',
            cache: 'no-store',
            headers: { 'Content-Type': 'application/json' },
            body: JSON.stringify(request),
          });
        }
      } catch (e) {
        return { refused: 'the router did not answer (' + e.message + ')' };
      }
      let body = null;
      try {
        body = await response.json();
      } catch (e) {
        body = null;
      }
      if (!response.ok || !body) {
        const why = body && body.error ? body.error : 'HTTP ' + response.status;
        return { refused: body && body.field ? body.field + ': ' + why : why };
      }
      return body;
    };
    const done = queue.then(run);
    queue = done.catch(() => {}).then(() => {
      pending--;
      showBusy();
    });
    return done;
  }

  // The one line that says why a run failed: the bridge's refusal, atsms's reason, or the
  // "error" member of a listing whose deletion the modem refused.
  function reasonOf(answer) {
    if (answer.refused) return answer.refused;
    if (answer.result && answer.result.error) return answer.result.error;
    return answer.error || '';
  }

  // ---- dates, senders ----

  const months = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];
  const dateForm = /^(\d\d)\/(\d\d)\/(\d\d),(\d\d):(\d\d):(\d\d)([+-]\d\d?)?$/;

  // yy/MM/dd,hh:mm:ss±zz (zz in quarter hours): milliseconds since 1970 in UTC, or NaN.
  function timeOf(date) {
    const m = dateForm.exec(date || '');
    if (!m) return NaN;
    const local = Date.UTC(2000 + +m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]);
    return local - (m[7] ? +m[7] * 15 * 60000 : 0);
  }

  // "3 May 2024 18:42", the time as the network wrote it; the date as given when it has another form.
  function readableDate(date) {
    const m = dateForm.exec(date || '');
    if (!m || +m[2] < 1 || +m[2] > 12) return date || '';
    return +m[3] + ' ' + months[+m[2] - 1] + ' 20' + m[1] + ' ' + m[4] + ':' + m[5];
  }

  // ---- the inbox ----

  let storage = 'sim';
  let shown = [];  // the messages on screen

  function drawMessages(document_) {
    const list = $('messages');
    list.replaceChildren();
    const messages = (document_.messages || []).slice();
    messages.sort((a, b) => {
      const ta = timeOf(a.date), tb = timeOf(b.date);
      if (!isNaN(ta) && !isNaN(tb) && ta !== tb) return tb - ta;
      return b.index - a.index;
    });
    shown = messages;
    for (const m of messages) list.append(messageItem(m));
    list.dataset.count = String(messages.length);
    list.dataset.state = messages.length ? 'ready' : 'empty';
    if (performance.mark) performance.mark('atsms-list-drawn');  // the benchmark reads it
    if (!messages.length) note('inbox-note', 'No messages in ' + storageNames[storage] + '.', '');
    if (document_.reports) takeReports(document_.reports);
  }

  function messageItem(m) {
    const item = el('li', m.unread ? 'message unread' : 'message');
    item.dataset.index = String(m.index);
    if (m.id) item.dataset.id = m.id;
    const head = el('div', 'head');
    head.append(el('span', 'sender', m.sender || '(no sender)'));
    if (m.unread) head.append(el('span', 'badge', 'unread'));
    const when = el('time', 'date', readableDate(m.date));
    when.title = m.date || '';
    head.append(when);
    item.append(head);
    item.append(el('p', 'text', m.text || ''));
    const foot = el('div', 'foot');
    if (m.parts) {
      foot.append(el('span', 'parts', m.parts.length + ' parts' +
        (m.complete === false ? ', some still missing' : '')));
    } else if (m.part) {
      foot.append(el('span', 'parts', 'part ' + m.part.number + ' of ' + m.part.total));
    }
    const remove = el('button', 'delete', 'Delete');
    remove.type = 'button';
    if (!m.id) {
      remove.disabled = true;
      remove.title = 'This atsms gives no message ids: update it to delete from the page.';
    }
    remove.addEventListener('click', () => deleteMessage(m));
    foot.append(remove);
    item.append(foot);
    return item;
  }

  function note(id, text, kind) {
    const p = $(id);
    p.textContent = text;
    p.className = 'note' + (kind ? ' ' + kind : '');
  }

  async function loadInbox(keepNote) {
    const list = $('messages');
    list.dataset.state = 'loading';
    if (!keepNote) note('inbox-note', '', '');
    const asked = storage;
    const answer = await call({ op: 'list', storage: asked });
    if (asked !== storage) return;  // another tab was chosen meanwhile
    if (answer.result && answer.result.messages) {
      drawMessages(answer.result);
      return;
    }
    list.replaceChildren();
    shown = [];
    list.dataset.state = 'failed';
    note('inbox-note', reasonOf(answer) || 'atsms failed (exit status ' + answer.status + ')', 'error');
  }

  async function deleteMessage(m) {
    const answer = await call({ op: 'delete', storage, index: m.index, id: m.id });
    const reason = reasonOf(answer);
    if (/is no longer the one listed/.test(reason)) {
      note('inbox-note', 'Message ' + m.index + ' changed since the list was loaded; nothing was deleted. ' +
        'The list is loaded again.', 'error');
      $('inbox-note').dataset.changed = '1';
      await loadInbox(true);
      return;
    }
    $('inbox-note').dataset.changed = '';
    if (answer.result && answer.result.messages) {
      drawMessages(answer.result);  // atsms lists what is left
      note('inbox-note', reason, reason ? 'error' : '');
      return;
    }
    if (reason) note('inbox-note', reason, 'error');
    await loadInbox(Boolean(reason));
  }

  function askDeleteAll() {
    $('confirm-text').textContent = 'Delete all ' + shown.length + ' messages in ' + storageNames[storage] + '?';
    $('confirm-all').hidden = false;
    $('confirm-yes').focus();
  }

  async function deleteAll() {
    $('confirm-all').hidden = true;
    const answer = await call({ op: 'delete_all', storage });
    const reason = reasonOf(answer);
    if (reason) note('inbox-note', reason, 'error');
    await loadInbox(Boolean(reason));
  }

  function chooseStorage(next) {
    storage = next;
    for (const tab of document.querySelectorAll('[role="tab"]')) {
      tab.setAttribute('aria-selected', String(tab.dataset.storage === next));
    }
    $('confirm-all').hidden = true;
    loadInbox(false);
  }

  // ---- the counter: characters and parts as atsms will send them ----

  // GSM 7-bit default alphabet (TS 23.038 6.2.1), the escape left out, and its extension table.
  const gsmBasic = '@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !"#¤%&\'()*+,-./0123456789:;<=>?' +
    '¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà';
  const gsmExtension = '\f^{}\\[~]|€';
  const maxBytes = 1023;
  const maxParts = 16;

  // The text after atsms's escapes: a backslash and n or r is a line feed or carriage return.
  function expandEscapes(text) {
    let out = '';
    for (let i = 0; i < text.length; i++) {
      const c = text[i];
      if (c === '\\' && (text[i + 1] === 'n' || text[i + 1] === 'r')) {
        out += text[i + 1] === 'n' ? '\n' : '\r';
        i++;
      } else {
        out += c;
      }
    }
    return out;
  }

  // Parts of `count` units filled `single` to one message, `part` per part of a long one; a pair
  // (a surrogate pair, an escape and its character) is never cut: cuts[i] true where one may cut.
  function partsOf(count, single, part, cuts) {
    if (count <= single) return { parts: count ? 1 : 0, last: count };
    let parts = 0, from = 0, length = 0;
    while (from < count) {
      length = Math.min(part, count - from);
      if (from + length < count && !cuts[from + length]) length--;
      from += length;
      parts++;
    }
    return { parts, last: length };
  }

  function count(raw, wantGsm) {
    const text = expandEscapes(raw);
    const bytes = new TextEncoder().encode(raw).length;
    const chars = Array.from(text);
    let gsm = wantGsm;
    if (gsm) {
      for (const c of chars) {
        if (!gsmBasic.includes(c) && !gsmExtension.includes(c)) {
          gsm = false;
          break;
        }
      }
    }
    const cuts = [];
    for (const c of chars) {
      const units = gsm ? (gsmExtension.includes(c) ? 2 : 1) : (c.codePointAt(0) > 0xFFFF ? 2 : 1);
      cuts.push(true);
      for (let i = 1; i < units; i++) cuts.push(false);
    }
    const units = cuts.length;
    const single = gsm ? 160 : 70, part = gsm ? 153 : 67;
    const split = partsOf(units, single, part, cuts);
    return { gsm, units, bytes, parts: split.parts, single, part, last: split.last };
  }

  function fits(raw) {
    const c = count(raw, $('gsm7').checked);
    return c.bytes <= maxBytes && c.parts <= maxParts;
  }

  let lastFitting = '';

  function onText() {
    const area = $('text');
    let limited = false;
    if (!fits(area.value)) {
      // The limit holds: what goes past it at the end (typed or pasted) is cut off; typed
      // inside the text, it is undone.
      let value = area.value;
      if (area.selectionStart === value.length || !fits(lastFitting)) {
        const chars = Array.from(value);
        let low = 0, high = chars.length;
        while (low < high) {
          const mid = Math.ceil((low + high) / 2);
          if (fits(chars.slice(0, mid).join(''))) low = mid; else high = mid - 1;
        }
        value = chars.slice(0, low).join('');
      } else {
        value = lastFitting;
      }
      area.value = value;
      limited = true;
    }
    lastFitting = area.value;
    showCounter(limited);
  }

  function showCounter(limited) {
    const c = count($('text').value, $('gsm7').checked);
    const counter = $('counter');
    counter.dataset.units = String(c.units);
    counter.dataset.parts = String(c.parts);
    counter.dataset.encoding = c.gsm ? 'gsm7' : 'ucs2';
    let text;
    if (c.parts <= 1) {
      text = c.units + ' / ' + c.single + ' · 1 part';
    } else {
      text = c.units + ' · ' + c.parts + ' parts of ' + c.part + ' (' + (c.part - c.last) + ' left in the last)';
    }
    text += c.gsm ? ' · GSM 7-bit' : ' · UCS-2';
    if (limited) text += ' · limit reached';
    counter.textContent = text;
    counter.className = 'counter' + (limited ? ' error' : '');
  }

  // ---- sending, and the delivery reports of what was sent ----

  let sent = [];
  try {
    sent = JSON.parse(localStorage.getItem('atsms.sent') || '[]');
  } catch (e) {
    sent = [];
  }
  let reportTimer = 0;

  function saveSent() {
    try {
      localStorage.setItem('atsms.sent', JSON.stringify(sent.slice(0, 20)));
    } catch (e) { /* private mode: the list lives as long as the page */ }
  }

  function drawSent() {
    const list = $('sent');
    list.replaceChildren();
    for (const s of sent) {
      const item = el('li', 'sent');
      const head = el('div', 'head');
      head.append(el('span', 'sender', s.number));
      head.append(el('time', 'date', new Date(s.time).toLocaleString()));
      item.append(head);
      item.append(el('p', 'text', s.text));
      if (s.references) {
        const states = s.references.map((r) => {
          const st = s.reports && s.reports[r];
          return st ? st.status + (st.done ? ' ' + readableDate(st.done) : '') : 'waiting for the report';
        });
        const report = el('p', 'report', 'Delivery: ' + states.join(', '));
        report.dataset.states = states.join(',');
        item.append(report);
      }
      list.append(item);
    }
  }

  function digits(number) {
    return String(number || '').replace(/^\+/, '');
  }

  // The reports atsms listed, matched to sent messages by reference and recipient.
  function takeReports(reports) {
    let changed = false;
    for (const s of sent) {
      if (!s.references) continue;
      s.reports = s.reports || {};
      for (const r of s.references) {
        const st = s.reports[r];
        if (r === null || (st && st.status !== 'pending')) continue;
        // The recipient as the network wrote it may lack or add a country code.
        const to = digits(s.number);
        const found = reports.find((x) => x.reference === r && digits(x.recipient) !== '' &&
          (digits(x.recipient).endsWith(to) || to.endsWith(digits(x.recipient))));
        if (found && (!st || st.status !== found.status)) {
          s.reports[r] = { status: found.status, done: found.done };
          changed = true;
        }
      }
    }
    if (changed) {
      saveSent();
      drawSent();
    }
  }

  function waitingForReports() {
    const hour = 3600 * 1000;
    return sent.some((s) => s.references && Date.now() - s.time < hour &&
      s.references.some((r) => r !== null && (!s.reports || !s.reports[r] || s.reports[r].status === 'pending')));
  }

  async function checkReports() {
    reportTimer = 0;
    if (!waitingForReports()) return;
    const answer = await call({ op: 'list', storage: 'report' });
    if (answer.result && answer.result.reports) takeReports(answer.result.reports);
    // A modem without its own report storage keeps them beside the messages: the inbox's
    // listing brings them (drawMessages).
    if (waitingForReports()) reportTimer = setTimeout(checkReports, 15000);
  }

  async function send(event) {
    event.preventDefault();
    const number = $('number').value.trim();
    const text = $('text').value;
    const result = $('send-result');
    result.dataset.state = '';
    if (!/^\+?[0-9]{1,18}$/.test(number)) {
      note('send-result', 'The number must be 1 to 18 digits after an optional +.', 'error');
      result.dataset.state = 'refused';
      return;
    }
    if (!text) {
      note('send-result', 'The text is empty.', 'error');
      result.dataset.state = 'refused';
      return;
    }
    const report = $('report').checked;
    $('send-button').disabled = true;
    note('send-result', 'Sending…', '');
    const answer = await call({ op: 'send', number, text, gsm7: $('gsm7').checked, report });
    $('send-button').disabled = false;
    const ok = answer.result && answer.result.msg === 'OK';
    const reason = reasonOf(answer);
    if (!ok) {
      note('send-result', 'Not sent: ' + (reason || 'the modem did not accept it'), 'error');
      result.dataset.state = 'failed';
      return;
    }
    note('send-result', 'Sent.' + (reason ? ' ' + reason : ''), reason ? 'error' : 'ok');
    result.dataset.state = 'sent';
    sent.unshift({
      number,
      text: text.length > 80 ? text.slice(0, 80) + '…' : text,
      time: Date.now(),
      references: report ? (answer.result.references || []) : null,
    });
    saveSent();
    drawSent();
    $('text').value = '';
    lastFitting = '';
    showCounter(false);
    if (report && !reportTimer) reportTimer = setTimeout(checkReports, 5000);
  }

  // ---- USSD ----

  async function ussd(code) {
    const reply = $('ussd-reply');
    reply.dataset.state = 'asking';
    reply.className = 'reply';
    reply.textContent = 'Asking the network…';
    $('ussd-button').disabled = true;
    $('ussd-answer-button').disabled = true;
    const answer = await call({ op: 'ussd', code });
    $('ussd-button').disabled = false;
    $('ussd-answer-button').disabled = false;
    const r = answer.result;
    const reason = reasonOf(answer);
    const menu = Boolean(r && r.msg === 'OK' && r.status === 1);
    if (r && r.msg === 'OK' && typeof r.reply === 'string') {
      reply.textContent = r.reply;
      if (reason) reply.append(el('span', 'error', '\n' + reason));
    } else {
      reply.textContent = reason || 'The network gave no answer.';
      reply.className = 'reply' + (r && r.msg === 'OK' ? '' : ' error');
    }
    reply.dataset.state = menu ? 'menu' : (r && r.msg === 'OK' ? 'done' : 'failed');
    $('ussd-answer-form').hidden = !menu;
    $('ussd-answer').value = '';
    if (menu) $('ussd-answer').focus();
  }

  // ---- wiring ----

  for (const tab of document.querySelectorAll('[role="tab"]')) {
    tab.addEventListener('click', () => chooseStorage(tab.dataset.storage));
  }
  $('refresh').addEventListener('click', () => loadInbox(false));
  $('delete-all').addEventListener('click', askDeleteAll);
  $('confirm-yes').addEventListener('click', deleteAll);
  $('confirm-no').addEventListener('click', () => { $('confirm-all').hidden = true; });
  $('text').addEventListener('input', onText);
  $('gsm7').addEventListener('change', onText);
  $('send-form').addEventListener('submit', send);
  $('ussd-form').addEventListener('submit', (e) => {
    e.preventDefault();
    const code = $('ussd-code').value.trim();
    if (code) ussd(code);
  });
  $('ussd-answer-form').addEventListener('submit', (e) => {
    e.preventDefault();
    const choice = $('ussd-answer').value.trim();
    if (choice) ussd(choice);
  });

  showCounter(false);
  drawSent();
  loadInbox(false).then(() => {
    if (waitingForReports()) checkReports();
  });
})();
